#include "net/cookie_store.h"

#include "net/http_error.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <utility>

namespace net {

namespace {

constexpr std::string_view kSetCookieHeader = "Set-cookie";
constexpr std::string_view kSetCookie2Header = "Set-cookie2";
constexpr std::string_view kCookieSeparator = "; ";
constexpr char kQuote = '"';
// The latest moment a MAX-AGE may reach: 9999-12-31 23:59:59, the last one an Internet date can carry.
constexpr UnixSeconds kLatestExpiry = 253402300799;
constexpr int kIpv4Parts = 4;
constexpr int kIpv4PartMax = 255;
constexpr std::size_t kIpv4PartDigits = 3;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ToUpper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = Upper(c);
  return result;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Lower(x) == Lower(y);
         });
}

// Byte order with ASCII letters folded to lower case.
int CompareNoCase(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(Lower(a[i]));
    auto y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitTrimmed(std::string_view text, char separator) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(separator, start);
    items.push_back(Trim(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return items;
}

std::string_view Unquote(std::string_view text) {
  if (!text.empty() && text.front() == kQuote) text.remove_prefix(1);
  if (!text.empty() && text.back() == kQuote) text.remove_suffix(1);
  return text;
}

bool IsDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An optionally signed decimal integer; a value past the range of 64 bits saturates.
bool ParseInteger(std::string_view text, std::int64_t& result) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (!IsDigits(text)) return false;
  constexpr std::int64_t kLimit = INT64_MAX / 10 - 1;
  std::int64_t value = 0;
  for (char c : text) {
    if (value > kLimit) {
      value = INT64_MAX;
      break;
    }
    value = value * 10 + (c - '0');
  }
  result = negative ? -value : value;
  return true;
}

// A Set-cookie2 PORT value: only a quoted list is read, and every entry of it must be an integer.
void CheckPortList(std::string_view value) {
  if (value.empty() || value.front() != kQuote) return;
  std::string_view list = Unquote(value);
  if (list.empty()) return;  // an empty list stands for port 80
  for (std::string_view entry : SplitTrimmed(list, ',')) {
    std::int64_t port = 0;
    if (!ParseInteger(entry, port) || port < INT32_MIN || port > INT32_MAX) {
      throw HttpClientError(ErrorKind::CookieValueError, "'" + std::string(entry) + "' is not a valid integer value");
    }
  }
}

bool IsIpv4Address(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts.size() != kIpv4Parts) return false;
  for (std::string_view part : parts) {
    if (!IsDigits(part) || part.size() > kIpv4PartDigits) return false;
    std::int64_t value = 0;
    ParseInteger(part, value);
    if (value > kIpv4PartMax) return false;
  }
  return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

struct HeaderField {
  std::string_view name;
  std::string value;
};

// Header lines as name and value; a line that begins with a blank or tab continues the one before it.
std::vector<HeaderField> ReadHeaderFields(const std::vector<std::string>& lines) {
  std::vector<HeaderField> fields;
  for (const std::string& line : lines) {
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      if (!fields.empty()) {
        std::string_view more = Trim(line);
        if (!more.empty()) {
          if (!fields.back().value.empty()) fields.back().value += ' ';
          fields.back().value += more;
        }
      }
      continue;
    }
    std::string_view text = line;
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
      fields.push_back({text, {}});
    } else {
      fields.push_back({text.substr(0, colon), std::string(Trim(text.substr(colon + 1)))});
    }
  }
  return fields;
}

}  // namespace

Cookie ParseSetCookie(std::string_view headerValue, CookieKind kind, UnixSeconds now) {
  Cookie cookie;
  cookie.kind = kind;
  std::vector<std::string_view> items = SplitTrimmed(headerValue, ';');

  std::string_view first = items.front();
  std::size_t equals = first.find('=');
  cookie.name = first.substr(0, equals);
  if (equals != std::string_view::npos) cookie.value = first.substr(equals + 1);

  bool haveMaxAge = false;
  std::int64_t maxAge = 0;
  for (std::size_t i = 1; i < items.size(); ++i) {
    std::string_view item = items[i];
    equals = item.find('=');
    std::string name = ToUpper(Trim(item.substr(0, equals)));
    std::string_view value = equals == std::string_view::npos ? std::string_view{} : Trim(item.substr(equals + 1));
    if (name == "PATH") {
      cookie.path = Unquote(value);
    } else if (name == "EXPIRES") {
      cookie.expires = value;
    } else if (name == "DOMAIN") {
      cookie.domain = value;
    } else if (name == "SECURE") {
      cookie.secure = true;
    } else if (name == "MAX-AGE") {
      haveMaxAge = ParseInteger(value, maxAge);
    } else if (name == "PORT" && kind == CookieKind::SetCookie2) {
      CheckPortList(value);
    }
  }

  if (cookie.expires.empty() && haveMaxAge && maxAge >= 0) {
    UnixSeconds expiry = maxAge > kLatestExpiry - now ? kLatestExpiry : now + maxAge;
    cookie.expires = FormatInternetDate(expiry);
  }
  return cookie;
}

bool IsCookieDomainAcceptable(std::string_view domain, std::string_view host) {
  if (IsIpv4Address(host)) return domain == host;
  if (!StartsWith(domain, ".") && !IsIpv4Address(domain)) return domain == host;
  // Only the host's own parent may be named, and only with its leading dot: a.b.c may set cookies for .b.c.
  std::size_t dot = host.find('.');
  return dot != std::string_view::npos && domain == host.substr(dot);
}

bool CookieDomainMatchesHost(std::string_view domain, std::string_view host) {
  if (domain.empty()) return false;
  if (EqualsNoCase(domain, host)) return true;
  if (IsIpv4Address(host)) return false;  // an address has no parent domains
  if (host.size() <= domain.size() || !EqualsNoCase(host.substr(host.size() - domain.size()), domain)) return false;
  // "b.com" must not reach "notb.com": the domain has to start a label of the host.
  return domain.front() == '.' || host[host.size() - domain.size() - 1] == '.';
}

CookieStore::CookieStore() : CookieStore(SystemNow) {}

CookieStore::CookieStore(Clock clock) : m_clock(std::move(clock)) {}

CookieStore::~CookieStore() = default;

void CookieStore::StoreFromHead(const std::vector<std::string>& headerLines, const std::string& host,
                                const std::string& directory) {
  std::vector<HeaderField> fields = ReadHeaderFields(headerLines);
  UnixSeconds now = m_clock();
  std::unique_lock lock(m_mutex);
  for (auto [headerName, kind] : {std::pair{kSetCookieHeader, CookieKind::SetCookie},
                                  std::pair{kSetCookie2Header, CookieKind::SetCookie2}}) {
    for (const HeaderField& field : fields) {
      if (!EqualsNoCase(field.name, headerName)) continue;
      Cookie cookie = ParseSetCookie(field.value, kind, now);
      if (cookie.domain.empty()) cookie.domain = host;
      if (cookie.path.empty()) cookie.path = directory;
      if (IsCookieDomainAcceptable(cookie.domain, host)) File(std::move(cookie));
    }
  }
}

void CookieStore::File(Cookie cookie) {
  if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return;
  auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                            [&](const DomainEntry& e) { return EqualsNoCase(e.domain, cookie.domain); });
  if (entry == m_entries.end()) {
    m_entries.push_back({cookie.domain, {}});
    entry = std::prev(m_entries.end());
  }
  // An entry never holds more than kMaxCookiesPerDomain, so this search is bounded however many cookies arrive.
  auto same = std::find_if(entry->cookies.begin(), entry->cookies.end(),
                           [&](const Filed& f) { return EqualsNoCase(f.cookie.name, cookie.name); });
  if (same != entry->cookies.end()) {
    // The cookie keeps its place (and the spelling of its name) and takes everything else from the new one.
    cookie.name = std::move(same->cookie.name);
    same->cookie = std::move(cookie);
    return;
  }
  if (entry->cookies.size() >= kMaxCookiesPerDomain) {
    entry->cookies.erase(entry->cookies.begin());
    --m_count;
  }
  entry->cookies.push_back({std::move(cookie), m_nextBorn++});
  ++m_count;
  if (m_count > kMaxCookies) DropOldest();
}

void CookieStore::DropOldest() {
  // Each entry keeps its cookies oldest first, so the store's oldest is the oldest of the entries' first cookies.
  auto oldest = m_entries.end();
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (!it->cookies.empty() && (oldest == m_entries.end() || it->cookies.front().born < oldest->cookies.front().born)) {
      oldest = it;
    }
  }
  if (oldest == m_entries.end()) return;
  oldest->cookies.erase(oldest->cookies.begin());
  --m_count;
  if (oldest->cookies.empty()) m_entries.erase(oldest);
}

void CookieStore::RemoveExpired(UnixSeconds now) {
  for (DomainEntry& entry : m_entries) {
    m_count -= std::erase_if(entry.cookies, [now](const Filed& f) {
      // Expiries carry whole seconds while the moment the server meant lies within that second, so an expiry equal to
      // now has passed; this is also what makes MAX-AGE 0 delete a cookie at once.
      return !f.cookie.expires.empty() && ParseInternetDate(f.cookie.expires).value_or(kZeroDate) <= now;
    });
  }
  std::erase_if(m_entries, [](const DomainEntry& entry) { return entry.cookies.empty(); });
}

std::string CookieStore::CookieHeaderFor(const std::string& host, const std::string& directory, bool secureConnection) {
  UnixSeconds now = m_clock();
  {
    std::unique_lock lock(m_mutex);
    RemoveExpired(now);
  }

  std::shared_lock lock(m_mutex);
  std::vector<const Cookie*> taken;
  for (const DomainEntry& entry : m_entries) {
    if (!CookieDomainMatchesHost(entry.domain, host)) continue;
    for (auto it = entry.cookies.rbegin(); it != entry.cookies.rend(); ++it) {
      const Cookie& cookie = it->cookie;
      if (StartsWith(directory, cookie.path) && !cookie.value.empty() && (secureConnection || !cookie.secure)) {
        taken.push_back(&cookie);
      }
    }
  }
  std::stable_sort(taken.begin(), taken.end(),
                   [](const Cookie* a, const Cookie* b) { return CompareNoCase(a->path, b->path) > 0; });

  std::string header;
  for (const Cookie* cookie : taken) {
    if (!header.empty()) header += kCookieSeparator;
    header += cookie->name + "=" + cookie->value;
  }
  return header;
}

std::vector<Cookie> CookieStore::Cookies() const {
  std::shared_lock lock(m_mutex);
  std::vector<Cookie> all;
  for (const DomainEntry& entry : m_entries) {
    for (const Filed& filed : entry.cookies) all.push_back(filed.cookie);
  }
  return all;
}

}  // namespace net
