#pragma once

#include "net/http_client.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace exchange {

class PaperFileSink;

// One try of a resumable download into its file: asks for the rest of what the file keeps, drops those bytes and
// throws StartAgain when the server cannot continue them (a 416 to a range, an answer that does not fit), and puts
// the file in place under its name, marked as coming from url, once it is whole.
void FetchInto(net::HttpClient& http, const std::string& url, PaperFileSink& file);
// The same with the body passing through `body` on its way into the file (a sink that holds it to a length).
void FetchInto(net::HttpClient& http, const std::string& url, PaperFileSink& file, net::BodySink& body);

// How a download is tried again, for a paper as for the updater's installer: once more at once when the server cannot
// continue the bytes kept (StartAgain), after a pause when another try may mend the failure (IsTransientFailure, up to
// kMaxRetries more), never after the user stopped it. One place, so both downloads keep the same promises.
class DownloadAttempts {
 public:
  enum class Outcome {
    kDone,     // a try returned normally
    kStopped,  // Stopped() said so after a failed try or a pause
    kFailed,   // a failure no further try may mend, or the tries ran out; Failure() holds it
  };

  // One try; returns when the download is done, throws on any failure.
  std::function<void()> Attempt;
  // Whether the user ended the download (a cancel, a paper deleted): asked after every failed try and pause.
  std::function<bool()> Stopped;
  // Waits ms before the next try; false when the wait was cut short.
  std::function<bool(int ms)> Pause;
  // Told before each pause: which try comes next and after how long (RetryText).
  std::function<void(int nextTry, int pauseMs)> BeforePause;
  // Seconds since the epoch, for a Retry-After date.
  std::function<std::int64_t()> NowSeconds;

  // Runs the tries; `http` is the client whose last answer may carry a Retry-After.
  Outcome Run(const net::HttpClient& http);

  // The failure that ended the last Run with kFailed (or a pause cut short: null then).
  std::exception_ptr Failure() const { return m_failure; }

 private:
  std::exception_ptr m_failure;
};

}  // namespace exchange
