#pragma once

#include "net/internet_date.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// The header a cookie came from.
enum class CookieKind { SetCookie, SetCookie2 };

struct Cookie {
  std::string name;
  std::string value;
  std::string path;     // as the server wrote it, quotes removed; the store fills in the request's directory
  std::string domain;   // as the server wrote it; the store fills in the request's host
  std::string expires;  // an Internet date; empty for a cookie that lasts as long as its client
  bool secure = false;
  CookieKind kind = CookieKind::SetCookie;
};

// Reads the value of one "Set-cookie" or "Set-cookie2" header; now dates a MAX-AGE.
// Throws HttpClientError (CookieValueError) for a "Set-cookie2" whose quoted PORT list holds a non-integer.
Cookie ParseSetCookie(std::string_view headerValue, CookieKind kind, UnixSeconds now);

// Whether a server answering for host may set a cookie for domain (case matters here).
bool IsCookieDomainAcceptable(std::string_view domain, std::string_view host);

// Whether a cookie filed under domain goes to host: host equals domain or ends with it at a label boundary,
// letters compared without regard to case.
bool CookieDomainMatchesHost(std::string_view domain, std::string_view host);

// Limits on what servers may make a client keep, those browsers keep at least (RFC 6265, 6.1): a cookie whose name and
// value together are longer than kMaxCookieBytes is dropped; beyond kMaxCookiesPerDomain in one domain or
// kMaxCookies in all, the oldest cookies go first.
inline constexpr std::size_t kMaxCookieBytes = 4096;
inline constexpr std::size_t kMaxCookiesPerDomain = 50;
inline constexpr std::size_t kMaxCookies = 3000;

// In-memory cookies of one HTTP client, consulted after every response head and when a request's headers are built.
// Safe to share between threads: reading the Cookie header takes the lock shared, storing and expiry take it whole.
class CookieStore {
 public:
  using Clock = std::function<UnixSeconds()>;

  CookieStore();
  // Tests pass their own clock so expiry never waits on the wall clock.
  explicit CookieStore(Clock clock);
  ~CookieStore();
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;

  // Files the "Set-cookie" and then the "Set-cookie2" lines of one response head. headerLines are the head's raw
  // lines ("Name: value", continuation lines beginning with a blank or tab), host and directory those of the request
  // that got the answer.
  // Throws HttpClientError (CookieValueError) for a bad Set-cookie2 PORT list; cookies filed before it stay.
  void StoreFromHead(const std::vector<std::string>& headerLines, const std::string& host,
                     const std::string& directory);

  // Drops expired cookies, then returns the Cookie header value for a request; empty when nothing is to be sent. A
  // secure cookie goes only over a secure (TLS) connection.
  std::string CookieHeaderFor(const std::string& host, const std::string& directory, bool secureConnection = false);

  // Every filed cookie: domain entries in the order they were created, each entry's cookies in order.
  std::vector<Cookie> Cookies() const;

 private:
  struct Filed {
    Cookie cookie;
    std::uint64_t born;  // filing order across the whole store; a replaced cookie keeps its own
  };
  struct DomainEntry {
    std::string domain;
    std::vector<Filed> cookies;  // oldest first
  };

  void File(Cookie cookie);
  // Drops the oldest cookie of the store; entries left empty go with it.
  void DropOldest();
  void RemoveExpired(UnixSeconds now);

  Clock m_clock;
  mutable std::shared_mutex m_mutex;
  std::vector<DomainEntry> m_entries;
  std::size_t m_count = 0;
  std::uint64_t m_nextBorn = 0;
};

}  // namespace net
