#include "download/tries.h"

#include "net/http_text.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace download {
namespace {

constexpr int kFirstPauseMs = 1000;
constexpr int kLongestRetryAfterSeconds = 60;
constexpr int kMsPerSecond = 1000;

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

template <std::size_t N>
bool Contains(const int (&values)[N], int value) {
  for (int candidate : values) {
    if (candidate == value) return true;
  }
  return false;
}

}  // namespace

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

int RetryPauseMs(int retry, std::string_view retryAfter, net::UnixSeconds now) {
  const std::string value = net::TrimBlanks(std::string(retryAfter));
  if (const std::int64_t seconds = net::ReadContentLength(value); seconds >= 0) {
    if (seconds <= kLongestRetryAfterSeconds) return static_cast<int>(seconds) * kMsPerSecond;
  } else if (const std::optional<net::UnixSeconds> at = net::ParseInternetDate(value)) {
    // A moment already past asks for no pause, as "0" does.
    if (*at <= now) return 0;
    // The minute comes off the date, which parsing keeps within the years 1 to 9999, so no `now` can overflow here.
    if (now >= *at - kLongestRetryAfterSeconds) return static_cast<int>(*at - now) * kMsPerSecond;
  }
  const int doubling = retry < 1 ? 0 : (retry > kMaxRetries ? kMaxRetries - 1 : retry - 1);
  return kFirstPauseMs << doubling;
}

bool TryResult::MayMend() const {
  switch (failure) {
    case Failure::kNetwork:
      return network && IsTransientFailure(*network);
    // An empty answer to a range is a proxy's or a server's hiccup, and the bytes kept are untouched.
    case Failure::kNoBody:
    case Failure::kStartAgain:
      return true;
    default:
      return false;
  }
}

TryResult FailedRequest(const net::HttpClientError& error, std::string retryAfter) {
  TryResult result;
  result.failure = Failure::kNetwork;
  result.network = error;
  result.retryAfter = std::move(retryAfter);
  return result;
}

int TryBudget::AfterFailedTry(bool progressed, std::int64_t nowMs) {
  if (progressed) {
    m_retriesWithoutProgress = 0;
    m_lastProgressMs = nowMs;
  }
  if (m_retriesWithoutProgress >= kMaxRetries || nowMs - m_lastProgressMs >= kLongestWithoutProgressMs) return 0;
  return ++m_retriesWithoutProgress;
}

TryResult Tries::Run() const {
  TryBudget budget(nowMs());
  bool startedAgain = false;
  for (int tryNumber = 1;; ++tryNumber) {
    TryResult result = attempt();
    if (result.Done() || result.failure == Failure::kStopped) return result;
    if (stopped()) {
      result.failure = Failure::kStopped;
      return result;
    }
    // Once, and at once: the server spoke, it just cannot continue these bytes. A second time it is a server that
    // changes the file under every download, and starting over for ever would fetch it for ever.
    if (result.failure == Failure::kStartAgain) {
      if (startedAgain) return result;
      startedAgain = true;
      continue;
    }
    if (!result.MayMend()) return result;
    const int retry = budget.AfterFailedTry(result.Progressed(), nowMs());
    if (retry == 0) return result;
    const int pauseMs = RetryPauseMs(retry, result.retryAfter, nowSeconds());
    if (beforePause) beforePause(tryNumber + 1, pauseMs);
    if (!pause(pauseMs) || stopped()) {
      // A pause cut short for another reason than the user's ends the download with the failure it followed.
      if (stopped()) result.failure = Failure::kStopped;
      return result;
    }
  }
}

}  // namespace download
