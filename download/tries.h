#pragma once

#include "net/http_error.h"
#include "net/internet_date.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// How a download is tried again, for a paper as for the updater's installer: one place, so both downloads keep the
// same promises. A try that moved the file on (bytes kept that the next try will not ask for again) renews the
// budget, so a link that breaks often but delivers between breaks always gets there; tries that move nothing end
// the download after a few, and so does a long time without progress.
namespace download {

// Whether another try may mend this failure: a refused or reset connection, a timeout, a body cut short, or the
// statuses 408, 429, 500, 502, 503 and 504. A name that does not resolve, another 4xx or a local failure is not.
bool IsTransientFailure(const net::HttpClientError& error);

// Tries again after a failure another try may mend, until this many in a row moved nothing on...
inline constexpr int kMaxRetries = 3;
// ...or nothing moved for this long, pauses included (a server that keeps asking for a minute's rest, a connect that
// takes two minutes to fail each time).
inline constexpr std::int64_t kLongestWithoutProgressMs = 60 * 60 * 1000;

// The pause before retry `retry` (1, 2, 3) since the last progress: about 1, 2 and 4 seconds, or what the server's
// Retry-After asks for when that is at most a minute: a number of seconds, or an HTTP date, counted from `now` (a
// date already past: no pause).
int RetryPauseMs(int retry, std::string_view retryAfter, net::UnixSeconds now);

// What ended one try, as a value: every failure of a download, the network's and its own.
enum class Failure {
  kNone,          // the file is in place under its name (or the try had nothing to fetch)
  kNetwork,       // the request failed: `network` says how
  kIntercepted,   // the network answered in the server's place (a login page, a redirect to another host)
  kNoBody,        // a body-less or empty answer where bytes are kept: they stay for the next try
  kStartAgain,    // the answer cannot continue the bytes kept, which went; the next try asks for the whole file
  kTooLarge,      // the file is larger than the program takes, or than the caller expects; nothing of it stays
  kWrongSize,     // the file is not the exact length the caller expects; nothing of it stays
  kCannotWrite,   // the file, its folder or its partial file could not be written or put in place
  kStopped,       // the user stopped it, or what was downloaded is no longer wanted
};

struct TryResult {
  Failure failure = Failure::kNone;
  std::optional<net::HttpClientError> network;
  std::string retryAfter;          // the failed answer's Retry-After, when it had one
  std::int64_t keptBefore = 0;     // bytes a next try could continue, before and after this one
  std::int64_t keptAfter = 0;
  bool silenceCut = false;         // the link fell silent on a flowing transfer and was given up early

  bool Done() const { return failure == Failure::kNone; }
  bool Progressed() const { return keptAfter > keptBefore; }
  // Whether another try may mend it.
  bool MayMend() const;
};

// A failed request of the download (the page that names the file, say): what no byte of the file has come from.
TryResult FailedRequest(const net::HttpClientError& error, std::string retryAfter = {});

// Counts the tries of one download; toolkit-free and clock-free, so every rule is a table row.
class TryBudget {
 public:
  explicit TryBudget(std::int64_t startMs) : m_lastProgressMs(startMs) {}
  // After a try that failed in a way another may mend: the number of the retry that may follow, counted since the
  // last progress (1 to kMaxRetries), or 0 when the tries ran out.
  int AfterFailedTry(bool progressed, std::int64_t nowMs);

 private:
  int m_retriesWithoutProgress = 0;
  std::int64_t m_lastProgressMs;
};

// Runs the tries of one download: once more at once when the server could not continue the bytes kept (once in a
// row), after a pause when another try may mend the failure, within the budget; never after the user stopped it.
struct Tries {
  // One try.
  std::function<TryResult()> attempt;
  // Whether the user ended the download (a cancel, a paper deleted): asked after every failed try and pause.
  std::function<bool()> stopped;
  // Waits ms before the next try; false when the wait was cut short.
  std::function<bool(int ms)> pause;
  // Told before each pause: which try of the download comes next and after how long (RetryText).
  std::function<void(int nextTry, int pauseMs)> beforePause;
  // A steady clock in ms, and seconds since the epoch for a Retry-After date.
  std::function<std::int64_t()> nowMs;
  std::function<std::int64_t()> nowSeconds;

  // The try that ended the download: done, stopped, or the failure that no try mends or that used up the tries.
  TryResult Run() const;
};

}  // namespace download
