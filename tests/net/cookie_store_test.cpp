#include "net/cookie_store.h"

#include "net/http_error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using net::Cookie;
using net::CookieKind;
using net::CookieStore;

constexpr net::UnixSeconds kNow = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

// A store on a clock the test moves by hand.
struct StoreOnFakeClock {
  net::UnixSeconds now = kNow;
  CookieStore store{[this] { return now; }};

  void Store(const std::vector<std::string>& lines, const std::string& host = "www.b.com",
             const std::string& directory = "/") {
    store.StoreFromHead(lines, host, directory);
  }
  std::string Header(const std::string& host = "www.b.com", const std::string& directory = "/", bool secure = false) {
    return store.CookieHeaderFor(host, directory, secure);
  }
};

TEST(CookieParse, ReadsNameValueAndTheAttributesThatMatter) {
  const struct {
    const char* label;
    const char* header;
    Cookie expected;
  } cases[] = {
      {"plain", "SID=abc", {"SID", "abc", "", "", "", false, CookieKind::SetCookie}},
      {"value keeps later equals signs", "SID=a=b; path=/x/", {"SID", "a=b", "/x/", "", "", false}},
      {"no equals sign: empty value", "SID", {"SID", "", "", "", "", false}},
      {"items trimmed, attribute names in any case", "  SID=abc ;pAtH = /a/ ; DoMaIn=.b.com;SECURE",
       {"SID", "abc", "/a/", ".b.com", "", true}},
      {"quoted path", "SID=abc; Path=\"/q/\"", {"SID", "abc", "/q/", "", "", false}},
      {"expires kept as text", "SID=abc; expires=Sun, 06-Nov-94 08:49:37 GMT",
       {"SID", "abc", "", "", "Sun, 06-Nov-94 08:49:37 GMT", false}},
      {"max-age dates from now", "SID=abc; Max-Age=60", {"SID", "abc", "", "", "Sun, 06 Nov 1994 08:50:37 GMT", false}},
      {"max-age 0 expires now", "SID=abc; max-age=0", {"SID", "abc", "", "", "Sun, 06 Nov 1994 08:49:37 GMT", false}},
      {"negative max-age ignored", "SID=abc; max-age=-1", {"SID", "abc", "", "", "", false}},
      {"unreadable max-age ignored", "SID=abc; max-age=soon", {"SID", "abc", "", "", "", false}},
      {"huge max-age stops at the last date", "SID=abc; max-age=99999999999999999999999",
       {"SID", "abc", "", "", "Fri, 31 Dec 9999 23:59:59 GMT", false}},
      {"expires wins over max-age in any order", "SID=abc; max-age=60; expires=Mon, 07 Nov 1994 00:00:00 GMT",
       {"SID", "abc", "", "", "Mon, 07 Nov 1994 00:00:00 GMT", false}},
      {"other attributes change nothing", "SID=abc; Version=1; Comment=x; HttpOnly; Port=\"x\"",
       {"SID", "abc", "", "", "", false}},
  };
  for (const auto& c : cases) {
    Cookie got = net::ParseSetCookie(c.header, CookieKind::SetCookie, kNow);
    EXPECT_EQ(got.name, c.expected.name) << c.label;
    EXPECT_EQ(got.value, c.expected.value) << c.label;
    EXPECT_EQ(got.path, c.expected.path) << c.label;
    EXPECT_EQ(got.domain, c.expected.domain) << c.label;
    EXPECT_EQ(got.expires, c.expected.expires) << c.label;
    EXPECT_EQ(got.secure, c.expected.secure) << c.label;
  }
}

TEST(CookieParse, SetCookie2PortListMustHoldIntegers) {
  const struct {
    const char* header;
    const char* error;  // nullptr: accepted
  } cases[] = {
      {"a=1; Port=\"80, 8080\"", nullptr},
      {"a=1; Port=\"\"", nullptr},
      {"a=1; Port=8x", nullptr},  // unquoted: ignored
      {"a=1; Port=\"80,8x\"", "'8x' is not a valid integer value"},
      {"a=1; port=\"x\"", "'x' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    try {
      net::ParseSetCookie(c.header, CookieKind::SetCookie2, kNow);
      EXPECT_EQ(c.error, nullptr) << c.header;
    } catch (const net::HttpClientError& e) {
      ASSERT_NE(c.error, nullptr) << c.header << ": " << e.what();
      EXPECT_EQ(e.Kind(), net::ErrorKind::CookieValueError) << c.header;
      EXPECT_EQ(e.Message(), c.error) << c.header;
    }
  }
}

TEST(CookieStoreHead, BadPortFailsTheHeadButKeepsWhatWasFiledBefore) {
  StoreOnFakeClock s;
  // Set-cookie lines are filed before any Set-cookie2 line, whatever their order in the head.
  EXPECT_THROW(s.Store({"Set-Cookie2: bad=1; Port=\"x\"", "Set-Cookie: a=1", "Set-Cookie2: late=1"}),
               net::HttpClientError);
  EXPECT_EQ(s.Header(), "a=1");
}

TEST(CookieStoreHead, ReadsSetCookieLinesThenSetCookie2Lines) {
  StoreOnFakeClock s;
  s.Store({"Server: x", "set-cookie2: a=2", "X-Set-Cookie: z=1", "SET-COOKIE: a=1", "Set-Cookie: c=3",
           "\t; path=/x/"});
  std::vector<Cookie> cookies = s.store.Cookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "a");
  EXPECT_EQ(cookies[0].value, "2");
  EXPECT_EQ(cookies[0].kind, CookieKind::SetCookie2);
  EXPECT_EQ(cookies[1].name, "c");
  EXPECT_EQ(cookies[1].path, "/x/");  // from the continuation line
  EXPECT_EQ(cookies[1].domain, "www.b.com");
}

TEST(CookieDomain, AcceptsOnlyTheHostItselfOrItsParentWithALeadingDot) {
  const struct {
    const char* domain;
    const char* host;
    bool accepted;
  } cases[] = {
      {"b.com", "b.com", true},
      {"a.b.com", "a.b.com", true},
      {"b.com", "a.b.com", false},  // parent without a leading dot
      {".b.com", "a.b.com", true},
      {".com", "a.b.com", false},  // only the immediate parent
      {".b.com", "x.a.b.com", false},
      {".b.com", "b.com", false},
      {"A.b.com", "a.b.com", false},  // case matters here
      {"other.com", "a.b.com", false},
      {"10.0.0.1", "10.0.0.1", true},
      {".0.0.1", "10.0.0.1", false},  // an address has no parent
      {"10.0.0.2", "10.0.0.1", false},
      {".0.0.1", "256.0.0.1", true},  // not an address: a name like any other
      {"localhost", "localhost", true},
      {".localhost", "localhost", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(net::IsCookieDomainAcceptable(c.domain, c.host), c.accepted) << c.domain << " from " << c.host;
  }
}

TEST(CookieDomain, SendsOnlyToTheDomainAndHostsBelowIt) {
  const struct {
    const char* domain;
    const char* host;
    bool sent;
  } cases[] = {
      {"b.com", "b.com", true},
      {"b.com", "B.COM", true},
      {"b.com", "www.b.com", true},
      {"b.com", "notb.com", false},
      {"b.com", "b.com.example.net", false},
      {"b.com", "com", false},
      {".b.com", "a.b.com", true},
      {".b.com", "A.B.Com", true},
      {".b.com", "x.a.b.com", true},
      {".b.com", "b.com", false},
      {".b.com", "xb.com", false},
      {"10.0.0.1", "10.0.0.1", true},
      {"0.0.1", "10.0.0.1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(net::CookieDomainMatchesHost(c.domain, c.host), c.sent) << c.domain << " to " << c.host;
  }
}

TEST(CookieStoreSend, NeverLeaksToHostsThatMerelyContainTheDomain) {
  StoreOnFakeClock s;
  s.Store({"Set-Cookie: sid=1; path=/"}, "b.com");
  EXPECT_EQ(s.Header("notb.com"), "");
  EXPECT_EQ(s.Header("b.com.example.net"), "");
  EXPECT_EQ(s.Header("B.com"), "sid=1");
  EXPECT_EQ(s.Header("www.b.com"), "sid=1");
}

TEST(CookieStoreSend, TakesPathPrefixesLongestPathFirst) {
  StoreOnFakeClock s;
  s.Store({"Set-Cookie: r=1; path=/", "Set-Cookie: ab=2; path=/a/b/", "Set-Cookie: a=3; path=/a/",
           "Set-Cookie: a2=4; path=/a/", "Set-Cookie: d=5", "Set-Cookie: other=6; path=/x/",
           "Set-Cookie: empty=; path=/", "Set-Cookie: sec=7; path=/; secure"},
          "h.example", "/a/b/");
  const struct {
    const char* directory;
    bool secure;
    const char* header;
  } cases[] = {
      // Within one path the cookies go out from the last filed to the first.
      {"/a/b/", false, "d=5; ab=2; a2=4; a=3; r=1"},
      {"/a/b/c/", false, "d=5; ab=2; a2=4; a=3; r=1"},
      {"/a/", false, "a2=4; a=3; r=1"},
      {"/", false, "r=1"},
      {"/x/", false, "other=6; r=1"},
      // A secure cookie only over TLS.
      {"/", true, "sec=7; r=1"},
  };
  for (const auto& c : cases) EXPECT_EQ(s.Header("h.example", c.directory, c.secure), c.header) << c.directory;
}

TEST(CookieStoreSend, EqualPathsKeepTheDomainEntriesOrder) {
  StoreOnFakeClock s;
  s.Store({"Set-Cookie: x=1; path=/"}, "www.b.com");
  s.Store({"Set-Cookie: y=2; path=/; domain=.b.com"}, "www.b.com");
  s.Store({"Set-Cookie: z=3; path=/"}, "www.b.com");
  EXPECT_EQ(s.Header("www.b.com"), "z=3; x=1; y=2");
}

TEST(CookieStoreFile, SameNameReplacesInPlace) {
  StoreOnFakeClock s;
  s.Store({"Set-Cookie: SID=1; path=/", "Set-Cookie: b=2; path=/"});
  s.Store({"Set-Cookie: sid=3; path=/a/"});
  std::vector<Cookie> cookies = s.store.Cookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "SID");
  EXPECT_EQ(cookies[0].value, "3");
  EXPECT_EQ(cookies[0].path, "/a/");
  EXPECT_EQ(s.Header("www.b.com", "/a/"), "SID=3; b=2");
  // The same name under another domain is another cookie.
  s.Store({"Set-Cookie: SID=4; path=/; domain=.b.com"});
  EXPECT_EQ(s.store.Cookies().size(), 3u);
}

// Browsers' bounds: a server cannot make the client keep (or send) more than a few hundred kilobytes, and filing
// stays quick however many cookies it sends.
TEST(CookieStoreFile, KeepsWithinTheLimitsDroppingTheOldestFirst) {
  struct Case {
    const char* label;
    int count;                  // cookies c0, c1, ... set one per head, each under the domain of the given host
    int hosts;                  // spread round-robin over this many sibling hosts a0.b.com, a1.b.com, ...
    std::size_t valueBytes;
    std::size_t kept;
    const char* firstKept;      // the oldest cookie still there (of the first host)
  };
  const Case cases[] = {
      {"name and value at the size limit", 1, 1, net::kMaxCookieBytes - 2, 1, "c0"},
      {"one byte over the size limit", 1, 1, net::kMaxCookieBytes - 1, 0, ""},
      {"a domain full", 50, 1, 1, 50, "c0"},
      {"a domain one over", 51, 1, 1, 50, "c1"},
      {"a domain flooded", 5000, 1, 1, 50, "c4950"},
      {"the store full", 3000, 60, 1, 3000, "c0"},
      {"the store one over", 3001, 60, 1, 3000, "c60"},
      {"the store flooded", 20000, 100, 1, 3000, "c17000"},
  };
  for (const Case& c : cases) {
    StoreOnFakeClock s;
    for (int i = 0; i < c.count; ++i) {
      std::string host = "a" + std::to_string(i % c.hosts) + ".b.com";
      s.Store({"Set-Cookie: c" + std::to_string(i) + "=" + std::string(c.valueBytes, 'v')}, host);
    }
    std::vector<Cookie> cookies = s.store.Cookies();
    EXPECT_EQ(cookies.size(), c.kept) << c.label;
    if (!cookies.empty()) {
      EXPECT_EQ(cookies.front().name, c.firstKept) << c.label;
    }
  }
}

TEST(CookieStoreExpiry, DropsCookiesWhoseExpiryHasPassed) {
  StoreOnFakeClock s;
  s.Store({"Set-Cookie: session=1", "Set-Cookie: gone=1; max-age=0",
           "Set-Cookie: past=1; expires=Sat, 05 Nov 1994 08:49:37 GMT", "Set-Cookie: junk=1; expires=some day",
           "Set-Cookie: minute=1; max-age=60", "Set-Cookie: zoned=1; expires=Sun, 06 Nov 1994 17:49:37 +0800"});
  EXPECT_EQ(s.Header(), "zoned=1; minute=1; session=1");
  s.now += 59;
  EXPECT_EQ(s.Header(), "zoned=1; minute=1; session=1");
  s.now += 1;
  EXPECT_EQ(s.Header(), "zoned=1; session=1");
  s.now += 3600;
  EXPECT_EQ(s.Header(), "session=1");
  ASSERT_EQ(s.store.Cookies().size(), 1u);
}

TEST(CookieStoreExpiry, MaxAgeZeroDeletesAnEarlierCookie) {
  StoreOnFakeClock s;
  s.Store({"Set-Cookie: sid=1; path=/"});
  EXPECT_EQ(s.Header(), "sid=1");
  s.Store({"Set-Cookie: sid=; path=/; max-age=0"});
  EXPECT_EQ(s.Header(), "");
  EXPECT_TRUE(s.store.Cookies().empty());
}

}  // namespace
