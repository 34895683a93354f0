#include "net/cookie_store.h"

#include "net/http_client.h"
#include "net/http_error.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::Action;
using testsupport::LoopbackServer;
using testsupport::OkResponse;

// The value of the request's Cookie line; "(none)" when it has none.
std::string CookieLineOf(const std::string& request) {
  const std::string marker = "\r\nCookie: ";
  std::size_t start = request.find(marker);
  if (start == std::string::npos) return "(none)";
  start += marker.size();
  return request.substr(start, request.find("\r\n", start) - start);
}

net::HttpClientError CatchGet(net::HttpClient& client, const std::string& url) {
  try {
    client.GetText(url);
  } catch (const net::HttpClientError& error) {
    return error;
  }
  ADD_FAILURE() << "no error for " << url;
  return net::HttpClientError(net::ErrorKind::UndefinedSituation, "none");
}

TEST(CookieClient, StoresCookiesFromInterimRedirectAndErrorHeads) {
  LoopbackServer server;
  net::HttpClient client;
  server.Enqueue({Action::Send("HTTP/1.1 100 Continue\r\nSet-Cookie: c100=1; path=/\r\n\r\n" +
                               OkResponse("ok", "Set-Cookie: sub=0; path=/a/\r\n"))});
  server.Enqueue({Action::Send("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nSet-Cookie: c302=2; path=/\r\n"
                               "Content-Length: 0\r\n\r\n")});
  server.Enqueue({Action::Send("HTTP/1.1 404 Not Found\r\nSet-Cookie: c404=3\r\nContent-Length: 2\r\n\r\nno")});
  server.Enqueue({Action::Send(OkResponse("ok"))});
  server.Enqueue({Action::Send(OkResponse("ok"))});

  EXPECT_EQ(client.GetText(server.Url("/a/first.asp")), "ok");
  EXPECT_EQ(CatchGet(client, server.Url("/moved.asp")).Code(), 302);
  EXPECT_EQ(CatchGet(client, server.Url("/missing.asp")).Code(), 404);
  client.GetText(server.Url("/a/next.asp?x=1"));
  client.GetText(server.Url("/other.asp"));

  std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(CookieLineOf(requests[0]), "(none)");
  EXPECT_EQ(CookieLineOf(requests[1]), "c100=1");
  EXPECT_EQ(CookieLineOf(requests[2]), "c302=2; c100=1");
  // The 404's cookie took the directory "/" of its request.
  EXPECT_EQ(CookieLineOf(requests[3]), "sub=0; c404=3; c302=2; c100=1");
  EXPECT_EQ(CookieLineOf(requests[4]), "c404=3; c302=2; c100=1");
}

TEST(CookieClient, BadPortListFailsTheGetButKeepsEarlierCookies) {
  LoopbackServer server;
  net::HttpClient client;
  server.Enqueue({Action::Send(OkResponse("ok", "Set-Cookie2: bad=1; Port=\"80,x\"\r\nSet-Cookie: kept=1\r\n"))});
  server.Enqueue({Action::Send(OkResponse("ok"))});

  net::HttpClientError error = CatchGet(client, server.Url("/"));
  EXPECT_EQ(error.Kind(), net::ErrorKind::CookieValueError);
  EXPECT_EQ(error.Message(), "'x' is not a valid integer value");
  client.GetText(server.Url("/"));
  EXPECT_EQ(CookieLineOf(server.Requests().back()), "kept=1");
}

TEST(CookieClient, ClientWithoutCookiesNeitherStoresNorSends) {
  LoopbackServer server;
  net::HttpClient client;
  client.AllowCookies = false;
  server.Enqueue({Action::Send(OkResponse("ok", "Set-Cookie: a=1\r\n"))});
  server.Enqueue({Action::Send(OkResponse("ok"))});
  client.GetText(server.Url("/"));
  client.GetText(server.Url("/"));
  EXPECT_EQ(client.Cookies(), nullptr);
  EXPECT_EQ(CookieLineOf(server.Requests().back()), "(none)");
}

}  // namespace
