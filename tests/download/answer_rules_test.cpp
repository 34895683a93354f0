#include "download/answer_rules.h"
#include "download/tries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace download {
namespace {

const std::string kModified = "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT";
const std::string kSentLater = "Date: Tue, 01 Dec 2026 10:00:01 GMT";
const std::string kSentAtOnce = "Date: Tue, 01 Dec 2026 10:00:00 GMT";
const std::string kModifiedAt = "Tue, 01 Dec 2026 10:00:00 GMT";

TEST(ResumableDownload, AsksForTheRestOnlyWithAValidatorOfTheFirstAnswer) {
  struct Case {
    const char* label;
    std::vector<std::string> firstHead;
    std::int64_t kept;
    HeaderList expected;
  };
  const std::vector<Case> cases = {
      {"strong ETag", {"ETag: \"abc\"", kModified}, 900, {{"Range", "bytes=900-"}, {"If-Range", "\"abc\""}}},
      {"strong ETag, date not strong", {"ETag: \"abc\"", kModified, kSentAtOnce}, 9,
       {{"Range", "bytes=9-"}, {"If-Range", "\"abc\""}}},
      {"date sent a second later", {kModified, kSentLater}, 5, {{"Range", "bytes=5-"}, {"If-Range", kModifiedAt}}},
      {"date sent a day later, other zone form", {kModified, "Date: Wed, 02 Dec 2026 18:00:00 +0800"}, 5,
       {{"Range", "bytes=5-"}, {"If-Range", kModifiedAt}}},
      {"date sent in the same second: no resume", {kModified, kSentAtOnce}, 5, {}},
      {"date sent before it was modified: no resume", {kModified, "Date: Tue, 01 Dec 2026 09:59:59 GMT"}, 5, {}},
      {"date without Date: no resume", {kModified}, 5, {}},
      {"unreadable Date: no resume", {kModified, "Date: soon"}, 5, {}},
      {"unreadable date: no resume", {"Last-Modified: yesterday", kSentLater}, 5, {}},
      {"weak ETag: no resume", {"ETag: W/\"abc\"", kModified, kSentLater}, 900, {}},
      {"no validator: start over", {"Content-Length: 1000"}, 900, {}},
      {"nothing kept", {"ETag: \"abc\""}, 0, {}},
  };
  for (const Case& c : cases) {
    const ResumeRecord record{"http://s/Upload/x.pdf", ValidatorOf(c.firstHead), 1000};
    EXPECT_EQ(ResumeHeaders(c.kept, record), c.expected) << c.label;
    // The record survives a restart of the program as it was written.
    const std::optional<ResumeRecord> stored = ParseResumeRecord(ResumeRecordText(record));
    ASSERT_TRUE(stored) << c.label;
    EXPECT_EQ(stored->validator, record.validator) << c.label;
    EXPECT_EQ(stored->url, record.url) << c.label;
    EXPECT_EQ(stored->total, 1000) << c.label;
  }
  EXPECT_FALSE(ParseResumeRecord("http://s/x\n\"abc\"\nlots\n"));
  EXPECT_FALSE(ParseResumeRecord("http://s/x\n\"abc\"\n10"));
  EXPECT_FALSE(ParseResumeRecord("\"abc\"\n10\n")) << "an older program's record names no address";
  EXPECT_EQ(ParseResumeRecord("http://s/x\n\"abc\"\n-1\n")->total, -1);
}

// One rule of what a partial file is worth, for the try that asks for the rest and for every clean-up.
TEST(ResumableDownload, ResumesOnlyFewerBytesThanTheWholeOfTheSameAddress) {
  const ResumeRecord record{"http://s/Upload/2020/x.pdf", "\"v1\"", 1000};
  struct Case {
    const char* label;
    ResumeRecord record;
    std::string url;
    std::int64_t kept;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"part of it", record, record.url, 900, true},
      {"another address of the same local name", record, "http://s/Upload/2019/x.pdf", 900, false},
      {"nothing kept", record, record.url, 0, false},
      {"as long as the whole", record, record.url, 1000, false},
      {"longer than the whole", record, record.url, 1001, false},
      {"no validator", {record.url, "", 1000}, record.url, 900, false},
      {"length unknown", {record.url, "\"v1\"", -1}, record.url, 900, true},
  };
  for (const Case& c : cases) EXPECT_EQ(CanResume(c.record, c.url, c.kept), c.expected) << c.label;
}

// How an answer to a resumed request goes on: append the rest, take the whole paper again, or throw the kept bytes
// away and ask once more from the start; and a paper too large for the program is refused whatever the answer.
TEST(ResumableDownload, ReadsTheAnswerToARange) {
  struct Case {
    const char* label;
    std::int64_t askedFrom;
    ResumeRecord record;
    int status;
    std::vector<std::string> head;
    std::int64_t contentLength;  // -1: none sent
    ResumeAnswer expected;
  };
  const ResumeRecord tagged{"http://s/x", "\"v1\"", 1000};
  const ResumeRecord dated{"http://s/x", kModifiedAt, 1000};
  const ResumeRecord lengthUnknown{"http://s/x", "\"v1\"", -1};
  const std::string tag = "ETag: \"v1\"";
  const std::string rest = "Content-Range: bytes 900-999/1000";
  constexpr std::int64_t kRest = 100;
  constexpr std::int64_t kLargest = kLargestPaperBytes;
  const std::vector<Case> cases = {
      {"match", 900, tagged, 206, {tag, rest}, kRest, ResumeAnswer::kAppend},
      {"match without a length", 900, tagged, 206, {tag, rest}, -1, ResumeAnswer::kAppend},
      {"length not the rest", 900, tagged, 206, {tag, rest}, kRest + 1, ResumeAnswer::kRestart},
      {"another version's tag: If-Range ignored", 900, tagged, 206, {"ETag: \"v2\"", rest}, kRest,
       ResumeAnswer::kRestart},
      {"no tag: If-Range ignored", 900, tagged, 206, {rest}, kRest, ResumeAnswer::kRestart},
      {"weak form of the tag", 900, tagged, 206, {"ETag: W/\"v1\"", rest}, kRest, ResumeAnswer::kRestart},
      {"date matches, strong", 900, dated, 206, {kModified, kSentLater, rest}, kRest, ResumeAnswer::kAppend},
      {"date matches beside a tag", 900, dated, 206, {"ETag: \"x\"", kModified, kSentLater, rest}, kRest,
       ResumeAnswer::kAppend},
      {"date matches but is not strong", 900, dated, 206, {kModified, kSentAtOnce, rest}, kRest,
       ResumeAnswer::kRestart},
      {"date missing", 900, dated, 206, {kSentLater, rest}, kRest, ResumeAnswer::kRestart},
      {"another date", 900, dated, 206, {"Last-Modified: Tue, 01 Dec 2026 11:00:00 GMT",
                                         "Date: Tue, 01 Dec 2026 12:00:00 GMT", rest}, kRest, ResumeAnswer::kRestart},
      {"whole paper again (validator changed)", 900, tagged, 200, {"ETag: \"v2\""}, 1000, ResumeAnswer::kStartOver},
      {"first request", -1, {}, 200, {}, 1000, ResumeAnswer::kStartOver},
      {"first request, length unknown", -1, {}, 200, {}, -1, ResumeAnswer::kStartOver},
      {"204 where bytes are kept", 900, tagged, 204, {}, -1, ResumeAnswer::kNoBody},
      {"205 where bytes are kept", 900, tagged, 205, {}, 0, ResumeAnswer::kNoBody},
      {"204 to a first request: an empty file", -1, {}, 204, {}, -1, ResumeAnswer::kStartOver},
      {"wrong start", 900, tagged, 206, {tag, "Content-Range: bytes 0-999/1000"}, 1000, ResumeAnswer::kRestart},
      {"wrong total", 900, tagged, 206, {tag, "Content-Range: bytes 900-1199/1200"}, 300, ResumeAnswer::kRestart},
      {"range short of the end", 900, tagged, 206, {tag, "Content-Range: bytes 900-949/1000"}, 50,
       ResumeAnswer::kRestart},
      {"unknown total", 900, tagged, 206, {tag, "Content-Range: bytes 900-999/*"}, kRest, ResumeAnswer::kRestart},
      {"garbled range", 900, tagged, 206, {tag, "Content-Range: bytes 900-x/1000"}, kRest, ResumeAnswer::kRestart},
      {"no range", 900, tagged, 206, {tag}, kRest, ResumeAnswer::kRestart},
      {"206 not asked for", -1, {}, 206, {tag, "Content-Range: bytes 0-999/1000"}, 1000, ResumeAnswer::kRestart},
      {"total unknown before, any total now", 900, lengthUnknown, 206, {tag, rest}, kRest, ResumeAnswer::kAppend},
      {"200 of the largest paper", -1, {}, 200, {}, kLargest, ResumeAnswer::kStartOver},
      {"200 above the largest paper", -1, {}, 200, {}, kLargest + 1, ResumeAnswer::kTooLarge},
      {"200 of the largest length there is", 900, tagged, 200, {}, INT64_MAX, ResumeAnswer::kTooLarge},
      {"206 of the largest paper", 900, lengthUnknown, 206, {tag, "Content-Range: bytes 900-4294967295/4294967296"},
       kLargest - 900, ResumeAnswer::kAppend},
      {"206 above the largest paper", 900, lengthUnknown, 206,
       {tag, "Content-Range: bytes 900-4294967296/4294967297"}, -1, ResumeAnswer::kTooLarge},
      {"206 of the largest total there is", 900, lengthUnknown, 206,
       {tag, "Content-Range: bytes 900-9223372036854775806/9223372036854775807"}, INT64_MAX - 900,
       ResumeAnswer::kTooLarge},
      {"206 total beyond 64 bits", 900, lengthUnknown, 206,
       {tag, "Content-Range: bytes 900-99999999999999999998/99999999999999999999"}, -1, ResumeAnswer::kRestart},
      {"206 last byte of the largest length there is, total unknown", 900, lengthUnknown, 206,
       {tag, "Content-Range: bytes 900-9223372036854775807/*"}, -1, ResumeAnswer::kRestart},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadResumeAnswer(c.askedFrom, c.record, c.status, c.head, c.contentLength), c.expected) << c.label;
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

// A login portal's page served for a paper is no paper: by its media type and first byte, unless the paper is a web
// page itself.
TEST(ResumableDownload, TellsTheNetworksPageFromThePaper) {
  struct Case {
    const char* label;
    std::string localName;
    std::string contentType;
    std::string bodyStart;
    bool page;
  };
  const std::vector<Case> cases = {
      {"login page for a pdf", "试卷 9.pdf", "text/html", "<html><form>", true},
      {"media type in capitals, with parameters", "p.doc", " Text/HTML ; charset=gbk", "<!DOCTYPE html>", true},
      {"in a sub-folder", "sub/p.doc", "text/html", "<", true},
      {"an htm paper", "p.htm", "text/html", "<html>", false},
      {"an HTML paper", "sub/P.HTML", "text/html", "<html>", false},
      {"a name that only contains .html", "p.html.doc", "text/html", "<html>", true},
      {"html not at the start", "p.pdf", "text/html", " <html>", false},
      {"a pdf sent as html", "p.pdf", "text/html", "%PDF-1.4", false},
      {"markup of another type", "p.xml", "text/xml", "<?xml", false},
      {"no media type", "p.pdf", "", "<html>", false},
      {"a type that only starts like html", "p.pdf", "text/htmlx", "<html>", false},
      {"no byte yet", "p.pdf", "text/html", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPageInPlaceOfPaper(c.localName, c.contentType, c.bodyStart), c.page) << c.label;
  }
}

TEST(ResumableDownload, TellsARedirectToAnotherHost) {
  const std::string asked = "http://www.vextal.com:8080/Upload/x/p.pdf";
  struct Case {
    const char* label;
    int status;
    std::string location;
    bool elsewhere;
  };
  const std::vector<Case> cases = {
      {"portal", 302, "http://login.hotel.example/?url=x", true},
      {"portal by https", 303, "https://10.0.0.1:8443/login", true},
      {"network path", 307, "//portal.example/login", true},
      {"user and port", 302, "http://www.vextal.com@portal.example:80/", true},
      {"IPv6 literal", 302, "http://[fe80::1]/login", true},
      {"same host, other case and port", 301, "HTTP://WWW.Vextal.com/Upload/p.pdf", false},
      {"a path", 302, "/login", false},
      {"a relative name", 302, "login.html", false},
      {"an address inside the query", 302, "/go?to=http://portal.example/", false},
      {"empty host", 302, "http:///login", false},
      {"no Location", 302, "", false},
      {"not a redirect", 200, "http://portal.example/", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsRedirectElsewhere(asked, c.status, c.location), c.elsewhere) << c.label;
  }
}

TEST(ResumableDownload, PausesGrowOrFollowTheServer) {
  // Tue, 01 Dec 2026 10:00:00 GMT
  constexpr net::UnixSeconds kNow = 1796119200;
  struct Case {
    int retry;
    const char* retryAfter;
    int pauseMs;
  };
  const std::vector<Case> cases = {
      {1, "", 1000},
      {2, "", 2000},
      {3, "", 4000},
      {1, "7", 7000},
      {2, " 60 ", 60000},
      {1, "61", 1000},
      {2, "-3", 2000},
      {1, "0", 0},
      {3, "99999999999999999999", 4000},
      {1, "Tue, 01 Dec 2026 10:00:07 GMT", 7000},
      {2, "Tue, 01 Dec 2026 10:01:00 GMT", 60000},
      {2, "Tue, 01 Dec 2026 10:01:01 GMT", 2000},
      {1, "Fri, 31 Dec 9999 23:59:59 GMT", 1000},
      {3, "Tue, 01 Dec 2026 10:00:00 GMT", 0},
      {2, "Tue, 01 Dec 2026 09:59:59 GMT", 0},
      {1, "Sunday, 06-Nov-94 08:49:37 GMT", 0},
      {3, "Tue, 01 Dec 2026 25:00:00 GMT", 4000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RetryPauseMs(c.retry, c.retryAfter, kNow), c.pauseMs) << c.retry << " " << c.retryAfter;
  }
}

}  // namespace
}  // namespace download
