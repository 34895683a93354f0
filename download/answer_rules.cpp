#include "download/answer_rules.h"

#include "net/http_text.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <limits>

namespace download {
namespace {

constexpr std::string_view kWeakPrefix = "W/";

constexpr int kStatusPartialContent = 206;
constexpr int kBodylessStatuses[] = {204, 205};
// Address, validator, length.
constexpr int kRecordLines = 3;
constexpr int kRedirectClass = 3;
constexpr int kStatusClassSize = 100;

// What a web page comes as, and the local names of papers that are web pages themselves.
constexpr std::string_view kPageMediaType = "text/html";
constexpr std::string_view kPageNameEndings[] = {".htm", ".html"};
constexpr char kMarkupStart = '<';
constexpr std::string_view kSchemeEnd = "://";
constexpr std::string_view kNetworkPathStart = "//";
// A Last-Modified date is a strong validator only when the answer was sent at least this long after it.
constexpr net::UnixSeconds kStrongDateGapSeconds = 1;

std::optional<std::int64_t> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// What of an answer's head proves which version of the paper it carries: its ETag unless weak, its Last-Modified
// date when strong. A weak ETag disowns the date beside it too.
struct StrongValidators {
  std::string tag;
  std::string date;
};

StrongValidators StrongValidatorsOf(const std::vector<std::string>& headerLines) {
  const std::string etag = net::HeaderValue(headerLines, "ETag");
  if (etag.starts_with(kWeakPrefix)) return {};
  StrongValidators validators;
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') validators.tag = etag;
  const std::string modified = net::HeaderValue(headerLines, "Last-Modified");
  const std::optional<net::UnixSeconds> modifiedAt = net::ParseInternetDate(modified);
  const std::optional<net::UnixSeconds> sentAt = net::ParseInternetDate(net::HeaderValue(headerLines, "Date"));
  // Parsed dates lie within the years 1 to 9999, far from the ends of the type: the difference cannot overflow.
  if (modifiedAt && sentAt && *sentAt - *modifiedAt >= kStrongDateGapSeconds) validators.date = modified;
  return validators;
}

bool EndsWithNoCase(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() &&
         net::EqualsNoCase(std::string(text.substr(text.size() - ending.size())), std::string(ending));
}

// "text/html; charset=gbk" is "text/html".
std::string MediaTypeOf(std::string_view contentType) {
  return net::TrimBlanks(std::string(contentType.substr(0, contentType.find(';'))));
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A letter, then letters, digits, "+", "-" or "."; ASCII alone, whatever the locale says of other bytes.
bool IsScheme(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text.front())) return false;
  for (const char c : text) {
    if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// The host an address names ("http://user@host:port/path", "//host/path", "[::1]"), empty for one that names none: a
// path, a relative name, or a "://" inside a query.
std::string HostOf(std::string_view address) {
  const std::string trimmed = net::TrimBlanks(std::string(address));
  address = trimmed;
  std::size_t start = 0;
  if (address.starts_with(kNetworkPathStart)) {
    start = kNetworkPathStart.size();
  } else {
    const std::size_t schemeEnd = address.find(kSchemeEnd);
    if (schemeEnd == std::string_view::npos || !IsScheme(address.substr(0, schemeEnd))) return {};
    start = schemeEnd + kSchemeEnd.size();
  }
  std::string_view authority = address.substr(start);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  // npos + 1 is 0: no user part, the whole authority.
  authority.remove_prefix(authority.rfind('@') + 1);
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    return std::string(close == std::string_view::npos ? authority : authority.substr(0, close + 1));
  }
  return std::string(authority.substr(0, authority.find(':')));
}

}  // namespace

std::string ResumeRecordText(const ResumeRecord& record) {
  return record.url + "\n" + record.validator + "\n" + std::to_string(record.total) + "\n";
}

std::optional<ResumeRecord> ParseResumeRecord(std::string_view text) {
  std::string_view lines[kRecordLines];
  for (std::string_view& line : lines) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    line = text.substr(0, end);
    text.remove_prefix(end + 1);
  }
  if (!text.empty() || lines[0].empty()) return std::nullopt;
  ResumeRecord record{std::string(lines[0]), std::string(lines[1])};
  if (lines[2] == "-1") return record;
  const std::optional<std::int64_t> value = ParseNumber(lines[2]);
  if (!value) return std::nullopt;
  record.total = *value;
  return record;
}

bool CanResume(const ResumeRecord& record, std::string_view url, std::int64_t kept) {
  return !record.validator.empty() && record.url == url && kept > 0 && (record.total < 0 || kept < record.total);
}

std::string ValidatorOf(const std::vector<std::string>& headerLines) {
  const StrongValidators validators = StrongValidatorsOf(headerLines);
  return validators.tag.empty() ? validators.date : validators.tag;
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

ResumeAnswer ReadResumeAnswer(std::int64_t askedFrom, const ResumeRecord& record, int status,
                              const std::vector<std::string>& headerLines, std::int64_t contentLength) {
  if (status != kStatusPartialContent) {
    const bool bodyless = std::find(std::begin(kBodylessStatuses), std::end(kBodylessStatuses), status) !=
                          std::end(kBodylessStatuses);
    if (bodyless && askedFrom > 0) return ResumeAnswer::kNoBody;
    return contentLength > kLargestPaperBytes ? ResumeAnswer::kTooLarge : ResumeAnswer::kStartOver;
  }
  if (askedFrom < 0 || record.validator.empty()) return ResumeAnswer::kRestart;
  const std::optional<ContentRange> range = ParseContentRange(net::HeaderValue(headerLines, "Content-Range"));
  // The range parsed, so first <= last < total: none of the sums below can overflow.
  if (!range || range->first != askedFrom || range->total < 0 || range->last != range->total - 1) {
    return ResumeAnswer::kRestart;
  }
  if (record.total >= 0 && range->total != record.total) return ResumeAnswer::kRestart;
  if (contentLength >= 0 && contentLength != range->total - askedFrom) return ResumeAnswer::kRestart;
  const StrongValidators validators = StrongValidatorsOf(headerLines);
  if (record.validator != validators.tag && record.validator != validators.date) return ResumeAnswer::kRestart;
  if (range->total > kLargestPaperBytes) return ResumeAnswer::kTooLarge;
  return ResumeAnswer::kAppend;
}

bool IsPageInPlaceOfPaper(std::string_view localName, std::string_view contentType, std::string_view bodyStart) {
  if (bodyStart.empty() || bodyStart.front() != kMarkupStart) return false;
  if (!net::EqualsNoCase(MediaTypeOf(contentType), std::string(kPageMediaType))) return false;
  for (const std::string_view ending : kPageNameEndings) {
    if (EndsWithNoCase(localName, ending)) return false;
  }
  return true;
}

bool IsRedirectElsewhere(std::string_view askedUrl, int status, std::string_view location) {
  if (status / kStatusClassSize != kRedirectClass) return false;
  const std::string target = HostOf(location);
  return !target.empty() && !net::EqualsNoCase(target, HostOf(askedUrl));
}

}  // namespace download
