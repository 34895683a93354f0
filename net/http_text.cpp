#include "net/http_text.h"

#include <cctype>
#include <limits>

#include "platform/gbk.h"

namespace net {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kMaxChunkSizeDigits = 16;

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Parses an optionally signed decimal integer that fills the whole text.
bool ParseDecimal(const std::string& text, std::int64_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t result = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    int digit = text[i] - '0';
    if (result > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = negative ? -result : result;
  return true;
}

std::string TrimRightBlanks(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(0, end);
}

}  // namespace

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

UrlParts SplitUrl(const std::string& url) {
  UrlParts parts;
  std::string rest = platform::BackslashesAsSlashes(url);
  std::size_t schemeEnd = rest.find("://");
  if (schemeEnd != std::string::npos) {
    parts.scheme = rest.substr(0, schemeEnd);
    rest.erase(0, schemeEnd + 3);
  }

  std::size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  std::string path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

  std::size_t at = authority.find('@');
  if (at != std::string::npos) {
    std::string userInfo = authority.substr(0, at);
    authority.erase(0, at + 1);
    std::size_t colon = userInfo.find(':');
    parts.user = userInfo.substr(0, colon);
    if (colon != std::string::npos) parts.password = userInfo.substr(colon + 1);
  }
  std::size_t colon = authority.find(':');
  parts.host = authority.substr(0, colon);
  if (colon != std::string::npos) parts.portText = authority.substr(colon + 1);

  // A query may start at "=" as well: the servers' old links carry "name=value" without "?".
  std::size_t q = path.find('?');
  if (q == std::string::npos) q = path.find('=');
  std::size_t pathEnd = q == std::string::npos ? path.size() : q;
  std::size_t lastSlash = pathEnd == 0 ? std::string::npos : path.rfind('/', pathEnd - 1);
  std::size_t documentStart = lastSlash == std::string::npos ? 0 : lastSlash + 1;
  parts.directory.assign(1, '/').append(path, 0, documentStart);
  parts.document = path.substr(documentStart, pathEnd - documentStart);
  parts.query = q == std::string::npos ? std::string() : path.substr(q);

  std::size_t hash = parts.document.find('#');
  if (hash != std::string::npos) {
    parts.document.erase(hash);
    parts.query.clear();  // the query stood after the "#", so it was part of the fragment
  } else {
    hash = parts.query.find('#');
    if (hash != std::string::npos) parts.query.erase(hash);
  }
  parts.target = parts.directory + parts.document + parts.query;
  return parts;
}

int ReadStatusCode(const std::string& statusLine) {
  std::size_t blank = statusLine.find(' ');
  if (blank == std::string::npos) return -1;
  std::size_t begin = statusLine.find_first_not_of(' ', blank);
  if (begin == std::string::npos) return -1;
  std::size_t end = statusLine.find(' ', begin);
  std::int64_t value = 0;
  if (!ParseDecimal(statusLine.substr(begin, end == std::string::npos ? std::string::npos : end - begin), value)) {
    return -1;
  }
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return -1;
  return static_cast<int>(value);
}

std::string HeaderValue(const std::vector<std::string>& headerLines, const std::string& name) {
  for (std::size_t i = 0; i < headerLines.size(); ++i) {
    const std::string& line = headerLines[i];
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || !EqualsNoCase(line.substr(0, colon), name)) continue;
    std::string value = line.substr(colon + 1);
    for (std::size_t j = i + 1; j < headerLines.size(); ++j) {
      const std::string& next = headerLines[j];
      if (next.empty() || (next[0] != ' ' && next[0] != '\t')) break;
      value.append(1, ' ').append(TrimBlanks(next));
    }
    return TrimBlanks(value);
  }
  return {};
}

std::int64_t ReadContentLength(const std::string& value) {
  std::int64_t length = 0;
  if (!ParseDecimal(TrimBlanks(value), length)) return -1;
  return length < 0 ? -1 : length;
}

bool ReadChunkSize(const std::string& line, std::uint64_t& size) {
  std::uint64_t value = 0;
  std::size_t digits = 0;
  bool any = false;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == ';') break;
    int digit = HexDigit(c);
    if (digit < 0) return false;
    any = true;
    // Leading zeros say nothing about the size, so only the digits after them count against the limit.
    if (value == 0 && digit == 0) continue;
    if (++digits > kMaxChunkSizeDigits) return false;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  if (!any) return false;
  size = value;
  return true;
}

bool KeepAliveAllowed(HttpVersion version, const std::string& connection, const std::string& proxyConnection) {
  std::string c = TrimBlanks(connection);
  std::string p = TrimBlanks(proxyConnection);
  if (version == HttpVersion::pv1_1) return !EqualsNoCase(c, "close") && !EqualsNoCase(p, "close");
  return EqualsNoCase(c, "keep-alive") || EqualsNoCase(p, "keep-alive");
}

std::vector<std::string> FoldHeaderLine(const std::string& line, std::size_t maxLength) {
  // The rest of the line is the continuation blank (after the first piece) followed by line[from..]; it is never
  // copied, so folding a long line costs its length once, not once per piece.
  std::vector<std::string> pieces;
  std::size_t from = 0;
  std::size_t lead = 0;  // 1 once the rest starts with the continuation blank
  auto restAt = [&](std::size_t i) { return i < lead ? ' ' : line[from + i - lead]; };
  auto restSize = [&] { return lead + line.size() - from; };
  auto restPrefix = [&](std::size_t n) {
    std::string text(lead, ' ');
    return text.append(line, from, n - lead);
  };
  while (restSize() > maxLength) {
    // Break positions: just after a blank, tab or comma that is not inside double quotes.
    std::size_t best = 0;
    std::size_t firstBeyond = 0;
    bool quoted = false;
    std::size_t size = restSize();
    for (std::size_t i = 1; i + 1 < size; ++i) {
      char c = restAt(i);
      if (c == '"') quoted = !quoted;
      if (quoted || (c != ' ' && c != '\t' && c != ',')) continue;
      std::size_t breakAt = i + 1;
      if (breakAt <= maxLength) {
        best = breakAt;
      } else {
        firstBeyond = breakAt;
        break;
      }
    }
    std::size_t breakAt = best != 0 ? best : firstBeyond;
    if (breakAt == 0) break;
    std::string piece = TrimRightBlanks(restPrefix(breakAt));
    if (piece.empty()) break;
    pieces.push_back(std::move(piece));
    std::size_t next = line.find_first_not_of(" \t", from + breakAt - lead);
    if (next == std::string::npos) {
      from = line.size();
      lead = 0;
      break;
    }
    from = next;
    lead = 1;
  }
  std::string rest = restPrefix(restSize());
  if (!rest.empty() || pieces.empty()) pieces.push_back(pieces.empty() ? rest : TrimRightBlanks(rest));
  return pieces;
}

std::string BuildRequestHead(const std::string& target, HttpVersion version,
                             const std::vector<std::pair<std::string, std::string>>& headers, const char* method) {
  constexpr std::size_t kFoldLength = 1024;
  std::string head = std::string(method) + " " + target + " HTTP/" + (version == HttpVersion::pv1_1 ? "1.1" : "1.0") + "\r\n";
  for (const auto& [name, value] : headers) {
    if (value.empty()) continue;
    for (const std::string& piece : FoldHeaderLine(name + ": " + value, kFoldLength)) head += piece + "\r\n";
  }
  head += "\r\n";
  return head;
}

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                      static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64Alphabet[(n >> 18) & 63];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += kBase64Alphabet[(n >> 6) & 63];
    out += kBase64Alphabet[n & 63];
  }
  std::size_t left = bytes.size() - i;
  if (left > 0) {
    std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (left == 2) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kBase64Alphabet[(n >> 18) & 63];
    out += kBase64Alphabet[(n >> 12) & 63];
    out += left == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace net
