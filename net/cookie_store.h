#pragma once

#include <string>
#include <vector>

namespace net {

// In-memory cookies of one HTTP client, consulted after every response head and when a request's headers are built.
class CookieStore {
 public:
  CookieStore();
  ~CookieStore();
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;

  // Files the "Set-cookie" and then the "Set-cookie2" lines of one response head. headerLines are the head's raw
  // lines ("Name: value"), host and directory those of the request that got the answer.
  // Throws HttpClientError (CookieValueError) for a bad Set-cookie2 PORT list; cookies filed before it stay.
  void StoreFromHead(const std::vector<std::string>& headerLines, const std::string& host,
                     const std::string& directory);

  // Drops expired cookies, then returns the Cookie header value for a request; empty when nothing is to be sent.
  std::string CookieHeaderFor(const std::string& host, const std::string& directory);
};

}  // namespace net
