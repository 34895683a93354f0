#include "exchange/resumable_download.h"

#include "net/http_text.h"

#include <charconv>
#include <limits>

namespace exchange {
namespace {

constexpr std::string_view kWeakPrefix = "W/";
constexpr int kFirstPauseMs = 1000;
constexpr int kLongestRetryAfterSeconds = 60;
constexpr int kMsPerSecond = 1000;

constexpr int kStatusPartialContent = 206;

// Statuses a server gives when it is busy or failing for a moment.
constexpr int kTransientStatuses[] = {408, 429, 500, 502, 503, 504};
// Socket errors of a connection that was refused, reset or timed out, or of a lookup the name server may answer next
// time; "host not found" is not among them.
constexpr int kTransientSocketErrors[] = {
    10050,  // network is down
    10051,  // network unreachable
    10053,  // connection aborted
    10054,  // connection reset
    10060,  // timed out
    10061,  // connection refused
    10065,  // host unreachable
    11002,  // name server failed for now
};

std::optional<std::int64_t> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

template <std::size_t N>
bool Contains(const int (&values)[N], int value) {
  for (int candidate : values) {
    if (candidate == value) return true;
  }
  return false;
}

}  // namespace

std::string ResumeRecordText(const ResumeRecord& record) {
  return record.validator + "\n" + std::to_string(record.total) + "\n";
}

std::optional<ResumeRecord> ParseResumeRecord(std::string_view text) {
  const std::size_t first = text.find('\n');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = text.find('\n', first + 1);
  if (second == std::string_view::npos || second + 1 != text.size()) return std::nullopt;
  ResumeRecord record;
  record.validator = std::string(text.substr(0, first));
  const std::string_view total = text.substr(first + 1, second - first - 1);
  if (total == "-1") return record;
  const std::optional<std::int64_t> value = ParseNumber(total);
  if (!value) return std::nullopt;
  record.total = *value;
  return record;
}

std::string ValidatorOf(const std::vector<std::string>& headerLines) {
  const std::string etag = net::TrimBlanks(net::HeaderValue(headerLines, "ETag"));
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') return etag;
  if (!etag.empty() && etag.compare(0, kWeakPrefix.size(), kWeakPrefix) == 0) {
    // A weak tag says the content is equivalent, not byte for byte the same: no range may build on it, and a date
    // beside it is no better a proof.
    return {};
  }
  return net::TrimBlanks(net::HeaderValue(headerLines, "Last-Modified"));
}

HeaderList ResumeHeaders(std::int64_t kept, const ResumeRecord& record) {
  if (kept <= 0 || record.validator.empty()) return {};
  return {{"Range", "bytes=" + std::to_string(kept) + "-"}, {"If-Range", record.validator}};
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  constexpr std::string_view kUnit = "bytes ";
  if (value.substr(0, kUnit.size()) != kUnit) return std::nullopt;
  value.remove_prefix(kUnit.size());
  const std::size_t slash = value.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view range = value.substr(0, slash);
  const std::string_view totalText = value.substr(slash + 1);
  ContentRange result;
  if (totalText != "*") {
    const std::optional<std::int64_t> total = ParseNumber(totalText);
    if (!total) return std::nullopt;
    result.total = *total;
  }
  if (range == "*") return result;
  const std::size_t dash = range.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::optional<std::int64_t> first = ParseNumber(range.substr(0, dash));
  const std::optional<std::int64_t> last = ParseNumber(range.substr(dash + 1));
  if (!first || !last || *last < *first || (result.total >= 0 && *last >= result.total)) return std::nullopt;
  result.first = *first;
  result.last = *last;
  return result;
}

ResumeAnswer ReadResumeAnswer(std::int64_t askedFrom, std::int64_t expectedTotal, int status,
                              std::string_view contentRange) {
  if (status != kStatusPartialContent) return ResumeAnswer::kStartOver;
  if (askedFrom < 0) return ResumeAnswer::kRestart;
  const std::optional<ContentRange> range = ParseContentRange(contentRange);
  if (!range || range->first != askedFrom || range->total < 0 || range->last + 1 != range->total) {
    return ResumeAnswer::kRestart;
  }
  if (expectedTotal >= 0 && range->total != expectedTotal) return ResumeAnswer::kRestart;
  return ResumeAnswer::kAppend;
}

bool IsTransientFailure(const net::HttpClientError& error) {
  switch (error.Kind()) {
    case net::ErrorKind::ProtocolError:
      return Contains(kTransientStatuses, error.Code());
    case net::ErrorKind::ConnectFailed:
    case net::ErrorKind::SocketError:
      return Contains(kTransientSocketErrors, error.Code());
    case net::ErrorKind::ConnectTimedOut:
    case net::ErrorKind::ReadTimedOut:
    case net::ErrorKind::ConnectionClosedGracefully:
    case net::ErrorKind::NotConnected:
    case net::ErrorKind::UndefinedSituation:
      return true;
    default:
      return false;
  }
}

int RetryPauseMs(int retry, std::string_view retryAfter) {
  const std::optional<std::int64_t> seconds = ParseNumber(net::TrimBlanks(std::string(retryAfter)));
  if (seconds && *seconds <= kLongestRetryAfterSeconds) return static_cast<int>(*seconds) * kMsPerSecond;
  const int doubling = retry < 1 ? 0 : (retry > kMaxRetries ? kMaxRetries - 1 : retry - 1);
  return kFirstPauseMs << doubling;
}

}  // namespace exchange
