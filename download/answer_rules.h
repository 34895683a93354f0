#pragma once

#include "net/internet_date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What an answer to a download's request means: which bytes of a broken download another try may keep, what it asks
// the server for, whether the answer continues them, and whether it is the file at all or the network's page in its
// place. Toolkit-free, so every rule here is a table test.
namespace download {

// What a broken download keeps beside its partial file, so the next attempt, in this run or after a restart, can ask
// for the rest: where the bytes came from, the first answer's validator and the file's whole length.
struct ResumeRecord {
  std::string url;          // the address the bytes were fetched from; another address never continues them
  std::string validator;    // a strong ETag, else a Last-Modified date; empty: the file cannot be resumed
  std::int64_t total = -1;  // the file's whole length; -1 when the server did not say
};

// The record as stored (three lines: address, validator, length) and read back; nothing when the text is not such a
// record (a record of an older program, of two lines, included: its partial file is given up).
std::string ResumeRecordText(const ResumeRecord& record);
std::optional<ResumeRecord> ParseResumeRecord(std::string_view text);

// The one rule of what a partial file is worth, for the try that asks for the rest as for every clean-up: `kept`
// bytes of the file at `url` can be continued when the record is the address's, names a validator, and the bytes are
// fewer than the whole (a partial as long as the file was never put in place, so nothing proves it whole).
bool CanResume(const ResumeRecord& record, std::string_view url, std::int64_t kept);

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
  kNoBody,     // a 2xx without a body (204, 205) where bytes are kept: a failed try that keeps them
};

// How a 2xx answer with this head (its lines and parsed Content-Length, -1 when none) continues a download that asked
// from byte `askedFrom` (-1: asked for the whole paper) with this record. A 206 is appended only when its range runs
// from the byte asked for to the paper's last, its total is the record's (when the record knows it), its own
// validator is the record's, and its length, when sent, is that of the rest: a server or proxy that ignores If-Range
// answers the range of whatever version it now holds, and splicing that onto the kept bytes would make a paper that
// never existed.
// A body-less answer (204, 205) can only stand for an empty file when nothing is kept; where bytes are, it cannot
// be the rest of them, and taking it for a whole file would throw them away for nothing.
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

// What the user is told when the network answered in a server's place.
inline constexpr std::u16string_view kInterceptedText = u"网络需要登录或拦截了下载";

// How long any request of the program waits on a connected server that sends nothing. A link that goes quiet without
// closing (Wi-Fi roaming, a NAT or proxy that forgot the connection, a stalled server) is then a broken link, which
// each window handles as any other failure, instead of a wait the user cannot end. A connect keeps its own limit. A
// download that can be resumed cuts a silence sooner (SilenceWatch).
inline constexpr int kSilentLinkLimitMs = 30'000;

}  // namespace download
