#include "download/resumable_fetch.h"

#include "download/partial_file.h"
#include "download/silence_watch.h"
#include "net/body_sink.h"
#include "net/http_client.h"
#include "net/http_text.h"
#include "platform/internet_mark.h"

#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace download {
namespace {

namespace fs = std::filesystem;

constexpr int kStatusRangeNotSatisfiable = 416;

// Leaves the client's get when the sink has judged the answer; caught in FetchOnce alone, so what ended the try
// travels as a value, never through the caller.
struct Judged {};

// Takes one answer into the partial file, judging it on the way: its head (does it continue the kept bytes, is it too
// large), its first bytes (is it the network's page), its length. The partial file is touched only once the first
// byte showed the answer is the file: a login page answering the request for the rest would otherwise already have
// cut away what an earlier try kept.
class ResumingSink : public net::BodySink {
 public:
  ResumingSink(net::HttpClient& http, const FetchTarget& target, PartialFile& file, const FetchHooks& hooks)
      : m_http(http),
        m_target(target),
        m_file(file),
        m_hooks(hooks),
        m_askedFrom(file.Kept() > 0 ? file.Kept() : -1),
        m_watch(hooks.shortestSilenceCutMs) {}

  Failure Verdict() const { return m_verdict; }
  bool Opened() const { return m_opened; }
  bool Appends() const { return m_appends; }
  bool SilenceShortened() const { return m_shortened; }
  const ResumeRecord& AnswerRecord() const { return m_answerRecord; }

  void Begin(const net::ResponseHead& head) override {
    switch (ReadResumeAnswer(m_askedFrom, m_file.Record(), head.Code, head.HeaderLines, head.ContentLength)) {
      case ResumeAnswer::kTooLarge: Refuse(Failure::kTooLarge);
      case ResumeAnswer::kRestart: Refuse(Failure::kStartAgain);
      case ResumeAnswer::kNoBody: Refuse(Failure::kNoBody);
      case ResumeAnswer::kAppend: m_appends = true; break;
      case ResumeAnswer::kStartOver: m_appends = false; break;
    }
    m_contentType = net::HeaderValue(head.HeaderLines, "Content-Type");
    if (m_appends) {
      m_answerRecord = m_file.Record();
      if (m_answerRecord.total < 0) {
        m_answerRecord.total = ParseContentRange(net::HeaderValue(head.HeaderLines, "Content-Range"))->total;
      }
    } else {
      m_answerRecord = {m_target.url, ValidatorOf(head.HeaderLines), head.ContentLength};
    }
    // Larger than the caller expects is the one failure the user can be told plainly ("too large").
    if (m_target.exactSize >= 0 && m_answerRecord.total > m_target.exactSize) Refuse(Failure::kTooLarge);
    if (m_target.exactSize >= 0 && m_answerRecord.total >= 0 && m_answerRecord.total != m_target.exactSize) {
      Refuse(Failure::kWrongSize);
    }
    if (m_hooks.onBegin) m_hooks.onBegin(m_appends ? m_askedFrom : 0, m_answerRecord.total);
    m_watch.Start(Now(), !m_answerRecord.validator.empty());
  }

  void Append(const char* data, std::size_t size) override {
    if (size == 0) return;
    if (!m_opened) {
      if (IsPageInPlaceOfPaper(m_target.localName, m_contentType, std::string_view(data, size))) {
        Refuse(Failure::kIntercepted);
      }
      m_opened = true;
      if (!(m_appends ? m_file.OpenToAppend() : m_file.OpenAnew(m_answerRecord))) {
        Refuse(m_appends ? Failure::kStartAgain : Failure::kCannotWrite);
      }
    }
    // A body of unannounced length (read to the close, or chunked) is held to the limit an announced one meets in
    // Begin, and to the caller's exact length.
    const std::int64_t limit = m_target.exactSize >= 0 ? m_target.exactSize : kLargestPaperBytes;
    if (m_file.Size() > limit || static_cast<std::uint64_t>(size) > static_cast<std::uint64_t>(limit - m_file.Size())) {
      Refuse(Failure::kTooLarge);
    }
    if (!m_file.Write(data, size)) Refuse(Failure::kCannotWrite);
    m_watch.Arrived(Now(), size);
    // The client's own read limit stays the longest any wait lasts; the rule only ever shortens it.
    if (m_watch.Shortens(m_http.ReadTimeout)) {
      m_shortened = true;
      m_http.LimitBodySilence(m_watch.LimitMs(m_http.ReadTimeout));
    }
  }

 private:
  [[noreturn]] void Refuse(Failure failure) {
    m_verdict = failure;
    throw Judged();
  }
  std::int64_t Now() const { return m_hooks.nowMs ? m_hooks.nowMs() : 0; }

  net::HttpClient& m_http;
  const FetchTarget& m_target;
  PartialFile& m_file;
  const FetchHooks& m_hooks;
  const std::int64_t m_askedFrom;
  Failure m_verdict = Failure::kNone;
  bool m_appends = false;
  bool m_opened = false;
  bool m_shortened = false;
  ResumeRecord m_answerRecord;
  std::string m_contentType;
  SilenceWatch m_watch;
};

// Range and If-Range for the rest of what the partial file keeps; none when nothing can be continued.
HeaderList RangeHeaders(const PartialFile& file) { return ResumeHeaders(file.Kept(), file.Record()); }

bool FolderExists(const fs::path& file) {
  std::error_code error;
  return fs::is_directory(file.parent_path(), error);
}

}  // namespace

TryResult RequestFailure(const net::HttpClient& http, const std::string& url, const net::HttpClientError& error) {
  if (error.Kind() != net::ErrorKind::ProtocolError) return FailedRequest(error);
  // A redirect to another host than the one asked is the network's answer (a login portal), never the server's.
  if (IsRedirectElsewhere(url, error.Code(), http.Response().Location)) {
    TryResult result;
    result.failure = Failure::kIntercepted;
    return result;
  }
  return FailedRequest(error, net::HeaderValue(http.Response().HeaderLines, "Retry-After"));
}

std::int64_t KeptBytes(const FetchTarget& target) { return PartialFile(target.partialFolder, target.url).Kept(); }

void DiscardPartial(const FetchTarget& target) { PartialFile(target.partialFolder, target.url).Discard(); }

TryResult FetchOnce(net::HttpClient& http, const FetchTarget& target, const FetchHooks& hooks) {
  PartialFile file(target.partialFolder, target.url);
  TryResult result;
  result.keptBefore = file.Kept();
  // Nothing is fetched for a file that could not be kept.
  if (!FolderExists(target.file)) {
    result.failure = Failure::kCannotWrite;
    result.keptAfter = result.keptBefore;
    return result;
  }
  ResumingSink sink(http, target, file, hooks);
  http.ExtraHeaders = RangeHeaders(file);
  try {
    http.Get(target.url, sink);
  } catch (const Judged&) {
    result.failure = sink.Verdict();
  } catch (const net::HttpClientError& error) {
    // The kept bytes are of another version of the file now, or beyond its end.
    if (error.Kind() == net::ErrorKind::ProtocolError && error.Code() == kStatusRangeNotSatisfiable &&
        file.Kept() > 0) {
      result.failure = Failure::kStartAgain;
    } else {
      const std::int64_t kept = result.keptBefore;
      result = RequestFailure(http, target.url, error);
      result.keptBefore = kept;
      result.silenceCut = error.Kind() == net::ErrorKind::ReadTimedOut && sink.SilenceShortened();
    }
  } catch (const std::exception&) {
    // The client's own failures beyond the network's (out of memory, say) fail the try as a file that cannot be
    // written does: nothing of it is trusted.
    result.failure = Failure::kCannotWrite;
  }
  // Range and If-Range belong to this get alone, however it ended.
  http.ExtraHeaders.clear();
  if (!file.Close() && result.failure == Failure::kNone) result.failure = Failure::kCannotWrite;

  if (result.failure == Failure::kNone) {
    if (!sink.Opened() && file.Kept() > 0) {
      // An empty answer where bytes are kept is no whole file.
      result.failure = Failure::kNoBody;
    } else if (!sink.Opened() && !file.OpenAnew(sink.AnswerRecord())) {
      result.failure = Failure::kCannotWrite;
    } else if (!file.Close()) {
      result.failure = Failure::kCannotWrite;
    } else if (sink.AnswerRecord().total >= 0 && file.Size() != sink.AnswerRecord().total) {
      // The body ended cleanly at another length than the answer named: not the file asked for.
      result.failure = Failure::kStartAgain;
    } else if (target.exactSize >= 0 && file.Size() != target.exactSize) {
      result.failure = Failure::kWrongSize;
    } else if (!file.PutInPlace(target.file)) {
      result.failure = Failure::kCannotWrite;
    } else {
      // The mark of the Internet goes on under the final name (Wine keeps a stream as a file of its own beside the
      // file, which a rename would leave behind under the temporary name).
      platform::MarkFromInternet(target.file, target.url);
    }
  }
  switch (result.failure) {
    case Failure::kStartAgain:
    case Failure::kTooLarge:
    case Failure::kWrongSize:
    case Failure::kCannotWrite:
      // Nothing of these answers is worth continuing, nor of a file the program will not take.
      file.Discard();
      break;
    default:
      // Without a validator nothing of what arrived can be continued.
      if (result.failure != Failure::kNone && file.Kept() == 0) file.Discard();
      break;
  }
  result.keptAfter = file.Kept();
  return result;
}

}  // namespace download
