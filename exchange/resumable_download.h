#pragma once

#include "net/http_error.h"
#include "net/internet_date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What another attempt at a broken paper download does: which bytes it may keep, what it asks the server for, how it
// reads the answer, and whether and when it is worth trying again. Toolkit-free, so every rule here is a table test.
namespace exchange {

// What a broken download keeps beside its partial file, so the next attempt, in this run or after a restart, can ask
// for the rest: the first answer's validator and the paper's whole length.
struct ResumeRecord {
  std::string validator;    // a strong ETag, else a Last-Modified date; empty: the paper cannot be resumed
  std::int64_t total = -1;  // the paper's whole length; -1 when the server did not say
};

// The record as stored (two lines) and read back; nothing when the text is not such a record.
std::string ResumeRecordText(const ResumeRecord& record);
std::optional<ResumeRecord> ParseResumeRecord(std::string_view text);

// The largest paper the program takes: an answer announcing more fails before a byte of it is written, and a body
// of unannounced length fails when it grows past it.
inline constexpr std::int64_t kLargestPaperBytes = std::int64_t{4} * 1024 * 1024 * 1024;

// The validator If-Range may carry for an answer with these head lines: its strong ETag, else its Last-Modified date
// when that is strong, the answer's own Date at least a second later (a file changed within the second it was sent
// could change again under the same date). Empty when it has neither: a weak ETag never proves the bytes are the
// same, and a date beside it is no better a proof.
std::string ValidatorOf(const std::vector<std::string>& headerLines);

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The headers that ask for the rest of a paper of which `kept` bytes are kept: "Range: bytes=N-" with "If-Range";
// none when nothing is kept or the record has no validator (the download then starts over).
HeaderList ResumeHeaders(std::int64_t kept, const ResumeRecord& record);

struct ContentRange {
  std::int64_t first = -1;
  std::int64_t last = -1;
  std::int64_t total = -1;  // -1 for "*"
};
// "bytes FIRST-LAST/TOTAL" or "bytes */TOTAL"; nothing for anything else.
std::optional<ContentRange> ParseContentRange(std::string_view value);

enum class ResumeAnswer {
  kAppend,     // 206 with exactly the rest of the same version of the paper: the kept bytes stand
  kStartOver,  // 200: the whole paper comes again, the kept bytes go
  kRestart,    // a 206 that is not exactly that rest, or one not asked for: discard, ask again for the whole paper
  kTooLarge,   // the paper is larger than kLargestPaperBytes: nothing of it is kept
};

// How a 2xx answer with this head (its lines and parsed Content-Length, -1 when none) continues a download that asked
// from byte `askedFrom` (-1: asked for the whole paper) with this record. A 206 is appended only when its range runs
// from the byte asked for to the paper's last, its total is the record's (when the record knows it), its own
// validator is the record's, and its length, when sent, is that of the rest: a server or proxy that ignores If-Range
// answers the range of whatever version it now holds, and splicing that onto the kept bytes would make a paper that
// never existed.
ResumeAnswer ReadResumeAnswer(std::int64_t askedFrom, const ResumeRecord& record, int status,
                              const std::vector<std::string>& headerLines, std::int64_t contentLength);

// Whether an answer is a page the network put in place of the paper (a hotel's or campus's login page, a filter's
// notice): its media type is text/html and its body starts with "<", where the paper's local name does not end in
// ".htm" or ".html" (a paper that is itself a web page comes as one). Only the name's ending counts, so any encoding of
// it that keeps ASCII as ASCII will do; an empty body start is no page.
bool IsPageInPlaceOfPaper(std::string_view localName, std::string_view contentType, std::string_view bodyStart);

// Whether an answer is a redirect (a 3xx status with a Location) to another host than askedUrl's: a login portal
// sends every request there, where a server of ours only ever points to itself. A Location without a host of its own
// (a path, a relative name) stays on the host asked.
bool IsRedirectElsewhere(std::string_view askedUrl, int status, std::string_view location);

// Whether another try may mend this failure: a refused or reset connection, a timeout, a body cut short, or the
// statuses 408, 429, 500, 502, 503 and 504. A name that does not resolve, another 4xx or a local failure is not.
bool IsTransientFailure(const net::HttpClientError& error);

inline constexpr int kMaxRetries = 3;
// The pause before retry `retry` (1, 2, 3): about 1, 2 and 4 seconds, or what the server's Retry-After asks for when
// that is at most a minute: a number of seconds, or an HTTP date, counted from `now` (a date already past: no pause).
int RetryPauseMs(int retry, std::string_view retryAfter, net::UnixSeconds now);

}  // namespace exchange
