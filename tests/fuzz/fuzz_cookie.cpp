// Set-Cookie and Set-cookie2 lines as a server sends them, filed into a store and sent back.
//
// Input: header lines separated by LF; the store files them as one response head from a fixed host.

#include "net/cookie_store.h"
#include "net/http_error.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf = text.find('\n'); ; lf = text.find('\n', start)) {
    lines.push_back(text.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  net::CookieStore store([] { return net::UnixSeconds{1700000000}; });
  try {
    store.StoreFromHead(lines, "www.example.com", "/admin/");
  } catch (const net::HttpClientError&) {
    // A bad Set-cookie2 port list fails the head; what was filed before stays.
  }
  if (store.Cookies().size() > net::kMaxCookies) std::abort();
  store.CookieHeaderFor("www.example.com", "/admin/");
  store.CookieHeaderFor("a.www.example.com", "/");
  for (const std::string& line : lines) {
    try {
      net::ParseSetCookie(line, net::CookieKind::SetCookie2, -2209161600);
    } catch (const net::HttpClientError&) {
    }
  }
  return 0;
}
