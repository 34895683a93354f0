#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The byte-level rules of the HTTP client, as pure functions: no sockets, so each is tested on plain strings.
namespace net {

enum class HttpVersion { pv1_0, pv1_1 };

struct UrlParts {
  std::string scheme;
  std::string user;
  std::string password;
  std::string host;
  std::string portText;
  std::string directory;  // always starts and ends with "/"
  std::string document;
  std::string query;      // starts with "?" (or "=") when present
  std::string target;     // directory + document + query, sent on the request line as it is
};

// Splits a URL the way the servers expect it: backslashes become slashes (but never the second byte of a GBK
// character), nothing is escaped, and a fragment is dropped.
UrlParts SplitUrl(const std::string& url);

// The second word of a status line as a number; -1 when it is not one.
int ReadStatusCode(const std::string& statusLine);

// The value of the first header line named `name` (compared without regard to case), with the continuation lines
// that follow it (those beginning with a blank or a tab) joined on with one blank, trimmed. Empty when absent.
std::string HeaderValue(const std::vector<std::string>& headerLines, const std::string& name);

// A Content-Length value as a number; -1 when it is absent or not a number.
std::int64_t ReadContentLength(const std::string& value);

// The size of a chunk from its size line (hexadecimal, up to the first blank, tab or ";"). False when the line does
// not start with a hexadecimal number that fits.
bool ReadChunkSize(const std::string& line, std::uint64_t& size);

// Whether the connection may serve the next request after a response with these Connection and Proxy-Connection
// values (the socket being open is the caller's part).
bool KeepAliveAllowed(HttpVersion version, const std::string& connection, const std::string& proxyConnection);

// A header line longer than maxLength becomes continuation lines starting with one blank, broken after a blank, a
// tab or a comma outside double quotes; each piece loses its trailing blanks. Lines without such a break stay whole.
std::vector<std::string> FoldHeaderLine(const std::string& line, std::size_t maxLength);

// The whole request head: request line, "Name: value" lines for the non-empty values in the given order (folded),
// an empty line; every line ends with CR LF.
std::string BuildRequestHead(const std::string& target, HttpVersion version,
                             const std::vector<std::pair<std::string, std::string>>& headers,
                             const char* method = "GET");

std::string Base64Encode(const std::string& bytes);

bool EqualsNoCase(const std::string& a, const std::string& b);
// An ASCII letter in lower case; every other byte as it is (never the locale's idea of a letter).
char LowerAscii(char c);
std::string LowerCase(std::string_view text);
// The value of one hexadecimal digit, -1 for any other byte.
int HexDigit(char c);
// Drops bytes up to and including the blank (control characters and blanks) at both ends.
std::string TrimBlanks(const std::string& text);

}  // namespace net
