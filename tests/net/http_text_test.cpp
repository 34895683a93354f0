#include "net/http_text.h"

#include <gtest/gtest.h>

#include "net/socket_api.h"
#include "net/socket_errors.h"

namespace net {
namespace {

TEST(SplitUrl, SplitsIntoTheRequestTargetWithoutEscaping) {
  struct Case {
    const char* label;
    std::string url;
    std::string host, port, directory, document, query, target;
  };
  const std::string gbkWithBackslashTrail = "\xD5\x5C";  // a GBK character whose trail byte is "\"
  const Case cases[] = {
      {"query", "http://h/a/b.asp?x=1", "h", "", "/a/", "b.asp", "?x=1", "/a/b.asp?x=1"},
      {"no path", "http://h", "h", "", "/", "", "", "/"},
      {"port", "http://h:8080/x", "h", "8080", "/", "x", "", "/x"},
      {"slash in query stays in query", "http://h/a/p.asp?f=a/b", "h", "", "/a/", "p.asp", "?f=a/b", "/a/p.asp?f=a/b"},
      {"query starts at = without ?", "http://h/a/p=1/2", "h", "", "/a/", "p", "=1/2", "/a/p=1/2"},
      {"blank and percent unescaped", "http://h/Upload/a b%20c.doc", "h", "", "/Upload/", "a b%20c.doc", "",
       "/Upload/a b%20c.doc"},
      {"backslash becomes slash", "http://h/Upload\\x\\y.doc", "h", "", "/Upload/x/", "y.doc", "", "/Upload/x/y.doc"},
      {"GBK trail byte kept", "http://h/Upload/" + gbkWithBackslashTrail + ".doc", "h", "", "/Upload/",
       gbkWithBackslashTrail + ".doc", "", "/Upload/" + gbkWithBackslashTrail + ".doc"},
      {"fragment in document", "http://h/a/b.htm#top", "h", "", "/a/", "b.htm", "", "/a/b.htm"},
      {"fragment in query", "http://h/a/b.asp?x=1#top", "h", "", "/a/", "b.asp", "?x=1", "/a/b.asp?x=1"},
      {"fragment before query drops query", "http://h/b.htm#t?x=1", "h", "", "/", "b.htm", "", "/b.htm"},
      {"user info", "http://u:p@h:81/", "h", "81", "/", "", "", "/"},
  };
  for (const Case& c : cases) {
    UrlParts parts = SplitUrl(c.url);
    EXPECT_EQ(parts.host, c.host) << c.label;
    EXPECT_EQ(parts.portText, c.port) << c.label;
    EXPECT_EQ(parts.directory, c.directory) << c.label;
    EXPECT_EQ(parts.document, c.document) << c.label;
    EXPECT_EQ(parts.query, c.query) << c.label;
    EXPECT_EQ(parts.target, c.target) << c.label;
  }
  UrlParts withUser = SplitUrl("ftp://user:secret@h/");
  EXPECT_EQ(withUser.scheme, "ftp");
  EXPECT_EQ(withUser.user, "user");
  EXPECT_EQ(withUser.password, "secret");
}

TEST(ReadStatusCode, ReadsTheSecondWordOrMinusOne) {
  const std::pair<std::string, int> cases[] = {
      {"HTTP/1.1 200 OK", 200}, {"HTTP/1.0 404 Not Found", 404}, {"HTTP/1.1 204", 204},
      {"HTTP/1.1 abc OK", -1},  {"HTTP/1.1", -1},                {"", -1},
      {"HTTP/1.1 99999999999 X", -1},
  };
  for (const auto& [line, code] : cases) EXPECT_EQ(ReadStatusCode(line), code) << line;
}

TEST(HeaderValue, FirstLineWinsNamesIgnoreCaseContinuationsJoin) {
  const std::vector<std::string> lines = {
      "Server: x",        "content-length:  12 ", "Content-Length: 99", "X-Long: first",
      "\tsecond",         "  third",               "Connection:close",  "Empty:",
  };
  const std::pair<std::string, std::string> cases[] = {
      {"Content-Length", "12"}, {"x-long", "first second third"}, {"Connection", "close"},
      {"Empty", ""},            {"Missing", ""},
  };
  for (const auto& [name, value] : cases) EXPECT_EQ(HeaderValue(lines, name), value) << name;
}

TEST(ReadContentLength, NumbersOnlyElseMinusOne) {
  const std::pair<std::string, std::int64_t> cases[] = {
      {"0", 0}, {" 100000 ", 100000}, {"", -1}, {"12a", -1}, {"-5", -1}, {"99999999999999999999", -1},
  };
  for (const auto& [text, length] : cases) EXPECT_EQ(ReadContentLength(text), length) << text;
}

TEST(ReadChunkSize, HexadecimalUpToBlankOrExtension) {
  struct Case {
    std::string line;
    bool ok;
    std::uint64_t size;
  };
  const Case cases[] = {
      {"1a", true, 26},  {"FF ignored", true, 255}, {"10;name=v", true, 16}, {"0", true, 0},
      {"", false, 0},    {"zz", false, 0},          {"1g", false, 0},        {" 5", false, 0},
      {"11111111111111111", false, 0},
      {"00000000000000003", true, 3},  {"0000000000000000000", true, 0}, {"FFFFFFFFFFFFFFFF", true, UINT64_MAX},
  };
  for (const Case& c : cases) {
    std::uint64_t size = 12345;
    EXPECT_EQ(ReadChunkSize(c.line, size), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(size, c.size) << c.line;
    }
  }
}

TEST(KeepAliveAllowed, DependsOnVersionAndConnectionHeaders) {
  struct Case {
    HttpVersion version;
    std::string connection, proxy;
    bool allowed;
  };
  const Case cases[] = {
      {HttpVersion::pv1_1, "", "", true},           {HttpVersion::pv1_1, "CLOSE", "", false},
      {HttpVersion::pv1_1, " close ", "", false},   {HttpVersion::pv1_1, "", "Close", false},
      {HttpVersion::pv1_1, "keep-alive", "", true}, {HttpVersion::pv1_0, "", "", false},
      {HttpVersion::pv1_0, "Keep-Alive", "", true}, {HttpVersion::pv1_0, "", "keep-alive", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeepAliveAllowed(c.version, c.connection, c.proxy), c.allowed) << c.connection << "|" << c.proxy;
  }
}

TEST(FoldHeaderLine, BreaksLongLinesAfterSeparatorsOutsideQuotes) {
  EXPECT_EQ(FoldHeaderLine("Short: value", 20), std::vector<std::string>{"Short: value"});
  EXPECT_EQ(FoldHeaderLine("Name: aaaa, bbbb cccc", 12), (std::vector<std::string>{"Name: aaaa,", " bbbb cccc"}));
  // The comma inside quotes is no break; the blank after the closing quote is.
  EXPECT_EQ(FoldHeaderLine("N: \"a,b,c,d\" e", 8), (std::vector<std::string>{"N:", " \"a,b,c,d\"", " e"}));
  // A word longer than the limit is never cut; the fold goes at the nearest break after it instead.
  std::string longWord(2000, 'a');
  EXPECT_EQ(FoldHeaderLine("X: " + longWord + " b", 1024), (std::vector<std::string>{"X:", " " + longWord, " b"}));
  EXPECT_EQ(FoldHeaderLine("X:" + longWord, 1024), std::vector<std::string>{"X:" + longWord});

  std::string cookie = "Cookie:";
  for (int i = 0; i < 300; ++i) cookie += " n" + std::to_string(i) + "=v;";
  for (const std::string& piece : FoldHeaderLine(cookie, 1024)) {
    EXPECT_LE(piece.size(), 1024u);
    EXPECT_NE(piece.back(), ' ');
  }
}

TEST(BuildRequestHead, RequestLineThenNonEmptyHeadersInOrder) {
  std::string head = BuildRequestHead("/a b.doc", HttpVersion::pv1_1,
                                      {{"Content-Type", "text/html"}, {"Host", "h"}, {"Cookie", ""}});
  EXPECT_EQ(head, "GET /a b.doc HTTP/1.1\r\nContent-Type: text/html\r\nHost: h\r\n\r\n");
  EXPECT_EQ(BuildRequestHead("/", HttpVersion::pv1_0, {}), "GET / HTTP/1.0\r\n\r\n");
}

TEST(Base64Encode, EncodesWithPadding) {
  const std::pair<std::string, std::string> cases[] = {
      {":", "Og=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"", ""}, {"user:pass", "dXNlcjpwYXNz"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(Base64Encode(in), out) << in;
}

TEST(SocketErrorMessage, CodeThenCrLfThenTheTableText) {
  const std::pair<int, std::string> cases[] = {
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {10035, "Socket Error # 10035\r\nOperation would block. "},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11002, "Socket Error # 11002\r\n"},
  };
  for (const auto& [code, message] : cases) EXPECT_EQ(SocketErrorMessage(code), message) << code;
}

#ifndef _WIN32
TEST(MapErrno, PosixErrorsBecomeWindowsSocketsCodes) {
  const std::pair<int, int> cases[] = {
      {ECONNREFUSED, 10061}, {ECONNRESET, 10054}, {ECONNABORTED, 10053}, {EPIPE, 10058},
      {ETIMEDOUT, 10060},    {EADDRINUSE, 10048}, {EHOSTUNREACH, 10065}, {EINTR, 10004},
  };
  for (const auto& [posix, wsa] : cases) EXPECT_EQ(sock::MapErrno(posix), wsa) << posix;
}
#endif

}  // namespace
}  // namespace net
