#pragma once

#include "net/http_error.h"

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

// The validator If-Range may carry for an answer with these head lines: its strong ETag, else its Last-Modified date;
// empty when it has neither (a weak ETag never proves the bytes are the same).
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
  kAppend,     // 206 from the byte asked for, of the same paper: the kept bytes stand
  kStartOver,  // 200: the whole paper comes again, the kept bytes go
  kRestart,    // a range that starts elsewhere or names another total, or a 206 not asked for: discard, ask again
};

// How a 2xx answer continues a download that asked from byte `askedFrom` (-1: asked for the whole paper) of a paper
// whose record names `expectedTotal` (-1: unknown).
ResumeAnswer ReadResumeAnswer(std::int64_t askedFrom, std::int64_t expectedTotal, int status,
                              std::string_view contentRange);

// Whether another try may mend this failure: a refused or reset connection, a timeout, a body cut short, or the
// statuses 408, 429, 500, 502, 503 and 504. A name that does not resolve, another 4xx or a local failure is not.
bool IsTransientFailure(const net::HttpClientError& error);

inline constexpr int kMaxRetries = 3;
// The pause before retry `retry` (1, 2, 3): about 1, 2 and 4 seconds, or the server's Retry-After in seconds when it
// asks for at most a minute.
int RetryPauseMs(int retry, std::string_view retryAfter);

}  // namespace exchange
