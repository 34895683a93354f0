#include "exchange/download_attempts.h"

#include "exchange/paper_file.h"
#include "exchange/resumable_download.h"
#include "net/http_error.h"
#include "net/http_text.h"

#include <QScopeGuard>

namespace exchange {
namespace {

constexpr int kStatusRangeNotSatisfiable = 416;

}  // namespace

void FetchInto(net::HttpClient& http, const std::string& url, PaperFileSink& file) { FetchInto(http, url, file, file); }

void FetchInto(net::HttpClient& http, const std::string& url, PaperFileSink& file, net::BodySink& body) {
  http.ExtraHeaders = file.RequestHeaders();
  // Range and If-Range belong to this get alone, however it ends.
  const auto headersDone = qScopeGuard([&http] { http.ExtraHeaders.clear(); });
  try {
    http.Get(url, body);
  } catch (const net::HttpClientError& error) {
    // The kept bytes are of another version of the file now, or beyond its end.
    if (error.Kind() == net::ErrorKind::ProtocolError && error.Code() == kStatusRangeNotSatisfiable &&
        file.AskedForTheRest()) {
      file.Discard();
      throw StartAgain();
    }
    throw;
  } catch (const StartAgain&) {
    file.Discard();
    throw;
  }
  try {
    file.Commit(url);
  } catch (const StartAgain&) {
    file.Discard();
    throw;
  }
}

DownloadAttempts::Outcome DownloadAttempts::Run(const net::HttpClient& http) {
  m_failure = nullptr;
  bool startedAgain = false;
  for (int retry = 1;; ++retry) {
    try {
      Attempt();
      return Outcome::kDone;
    } catch (const StartAgain&) {
      // Once, and at once: the server spoke, it just cannot continue these bytes.
      if (startedAgain) {
        m_failure = std::current_exception();
        return Outcome::kFailed;
      }
      startedAgain = true;
      --retry;
    } catch (const net::HttpClientError& error) {
      if (Stopped()) return Outcome::kStopped;
      if (!IsTransientFailure(error) || retry > kMaxRetries) {
        m_failure = std::current_exception();
        return Outcome::kFailed;
      }
      const std::string retryAfter = error.Kind() == net::ErrorKind::ProtocolError
                                         ? net::HeaderValue(http.Response().HeaderLines, "Retry-After")
                                         : std::string();
      const int pauseMs = RetryPauseMs(retry, retryAfter, NowSeconds());
      if (BeforePause) BeforePause(retry + 1, pauseMs);
      if (!Pause(pauseMs) || Stopped()) return Stopped() ? Outcome::kStopped : Outcome::kFailed;
    } catch (...) {
      m_failure = std::current_exception();
      return Outcome::kFailed;
    }
  }
}

}  // namespace exchange
