#include "exchange/resumable_download.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace exchange {
namespace {

TEST(ResumableDownload, AsksForTheRestOnlyWithAValidatorOfTheFirstAnswer) {
  struct Case {
    const char* label;
    std::vector<std::string> firstHead;
    std::int64_t kept;
    HeaderList expected;
  };
  const std::vector<Case> cases = {
      {"strong ETag", {"ETag: \"abc\"", "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT"}, 900,
       {{"Range", "bytes=900-"}, {"If-Range", "\"abc\""}}},
      {"date without ETag", {"Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT"}, 5,
       {{"Range", "bytes=5-"}, {"If-Range", "Tue, 01 Dec 2026 10:00:00 GMT"}}},
      {"weak ETag: no resume", {"ETag: W/\"abc\"", "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT"}, 900, {}},
      {"no validator: start over", {"Content-Length: 1000"}, 900, {}},
      {"nothing kept", {"ETag: \"abc\""}, 0, {}},
  };
  for (const Case& c : cases) {
    const ResumeRecord record{ValidatorOf(c.firstHead), 1000};
    EXPECT_EQ(ResumeHeaders(c.kept, record), c.expected) << c.label;
    // The record survives a restart of the program as it was written.
    const std::optional<ResumeRecord> stored = ParseResumeRecord(ResumeRecordText(record));
    ASSERT_TRUE(stored) << c.label;
    EXPECT_EQ(stored->validator, record.validator) << c.label;
    EXPECT_EQ(stored->total, 1000) << c.label;
  }
  EXPECT_FALSE(ParseResumeRecord("\"abc\"\nlots\n"));
  EXPECT_FALSE(ParseResumeRecord("\"abc\"\n10"));
  EXPECT_EQ(ParseResumeRecord("\"abc\"\n-1\n")->total, -1);
}

// How an answer to a resumed request goes on: append the rest, take the whole paper again, or throw the kept bytes
// away and ask once more from the start.
TEST(ResumableDownload, ReadsTheAnswerToARange) {
  struct Case {
    const char* label;
    std::int64_t askedFrom;
    std::int64_t expectedTotal;
    int status;
    const char* contentRange;
    ResumeAnswer expected;
  };
  const std::vector<Case> cases = {
      {"match", 900, 1000, 206, "bytes 900-999/1000", ResumeAnswer::kAppend},
      {"whole paper again (validator changed)", 900, 1000, 200, "", ResumeAnswer::kStartOver},
      {"first request", -1, -1, 200, "", ResumeAnswer::kStartOver},
      {"wrong start", 900, 1000, 206, "bytes 0-999/1000", ResumeAnswer::kRestart},
      {"wrong total", 900, 1000, 206, "bytes 900-1199/1200", ResumeAnswer::kRestart},
      {"range short of the end", 900, 1000, 206, "bytes 900-949/1000", ResumeAnswer::kRestart},
      {"unknown total", 900, 1000, 206, "bytes 900-999/*", ResumeAnswer::kRestart},
      {"garbled range", 900, 1000, 206, "bytes 900-x/1000", ResumeAnswer::kRestart},
      {"206 not asked for", -1, -1, 206, "bytes 0-999/1000", ResumeAnswer::kRestart},
      {"total unknown before, any total now", 900, -1, 206, "bytes 900-999/1000", ResumeAnswer::kAppend},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadResumeAnswer(c.askedFrom, c.expectedTotal, c.status, c.contentRange), c.expected) << c.label;
  }
  EXPECT_EQ(ParseContentRange("bytes */1000")->total, 1000);
  EXPECT_FALSE(ParseContentRange("bytes 5-4/10"));
  EXPECT_FALSE(ParseContentRange("bytes 0-10/10"));
}

TEST(ResumableDownload, RetriesOnlyWhatAnotherTryMayMend) {
  using net::ErrorKind;
  struct Case {
    const char* label;
    ErrorKind kind;
    int code;
    bool transient;
  };
  const std::vector<Case> cases = {
      {"refused", ErrorKind::ConnectFailed, 10061, true},
      {"reset", ErrorKind::SocketError, 10054, true},
      {"connect timeout", ErrorKind::ConnectTimedOut, 0, true},
      {"read timeout", ErrorKind::ReadTimedOut, 0, true},
      {"body cut short", ErrorKind::ConnectionClosedGracefully, 0, true},
      {"408", ErrorKind::ProtocolError, 408, true},
      {"429", ErrorKind::ProtocolError, 429, true},
      {"500", ErrorKind::ProtocolError, 500, true},
      {"502", ErrorKind::ProtocolError, 502, true},
      {"503", ErrorKind::ProtocolError, 503, true},
      {"504", ErrorKind::ProtocolError, 504, true},
      {"404", ErrorKind::ProtocolError, 404, false},
      {"403", ErrorKind::ProtocolError, 403, false},
      {"501", ErrorKind::ProtocolError, 501, false},
      {"name not found", ErrorKind::ConnectFailed, 11001, false},
      {"head too large", ErrorKind::HeadTooLarge, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsTransientFailure(net::HttpClientError(c.kind, "x", c.code)), c.transient) << c.label;
  }
}

TEST(ResumableDownload, PausesGrowOrFollowTheServer) {
  struct Case {
    int retry;
    const char* retryAfter;
    int pauseMs;
  };
  const std::vector<Case> cases = {
      {1, "", 1000}, {2, "", 2000}, {3, "", 4000}, {1, "7", 7000},   {2, " 60 ", 60000},
      {1, "61", 1000}, {3, "Tue, 01 Dec 2026 10:00:00 GMT", 4000}, {2, "-3", 2000}, {1, "0", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RetryPauseMs(c.retry, c.retryAfter), c.pauseMs) << c.retry << " " << c.retryAfter;
  }
}

}  // namespace
}  // namespace exchange
