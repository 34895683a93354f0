#include "net/http_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "net/http_error.h"
#include "net/socket_api.h"
#include "net/system_proxy.h"
#include "platform/environment.h"
#include "tests/support/internet_options.h"
#include "tests/support/loopback_server.h"
#include "tests/support/squid_proxy.h"

namespace net {
namespace {

using testsupport::Action;
using testsupport::LoopbackServer;
using testsupport::OkResponse;
using testsupport::SquidProxy;

// How long a test waits for something that is bound to happen; a passing run never waits it out.
constexpr int kGiveUpMs = 60000;

// A name no resolver here knows: only the proxy's own hosts file does, as only a campus proxy knows the way out.
constexpr const char* kOutsideName = "papers.vextal.test";

// Sets one environment variable for a scope and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    platform::SetEnvironmentVariable(m_name, value);
  }
  ~ScopedVariable() { platform::SetEnvironmentVariable(m_name, m_old); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

// Every road of a request through a real proxy: the name decided and resolved by the proxy, a Basic login asked once
// per run (or taken from the proxy's URL), a login declined, a proxy that is down, and the environment choosing the
// proxy or, by no_proxy, the server itself. Every failure names the proxy it went through.
TEST(ProxyClient, ARequestGoesThroughTheProxyTheUserHas) {
  enum class Choice { Fixed, FixedWithLogin, Environment, EnvironmentBypassed, Down };
  struct Case {
    const char* label;
    Choice choice;
    bool proxyWantsLogin;
    std::optional<ProxyLogin> userAnswers;  // what the login dialog answers; nothing: "取消"
    int prompts;                            // how often the dialog shows over two gets
    ErrorKind failure;                      // ProtocolError with code 0: both gets succeed
    int code;
    bool failureNamesProxy;
  };
  const ProxyLogin student{"student", "p@ss:word"};
  const Case cases[] = {
      {"a plain proxy", Choice::Fixed, false, std::nullopt, 0, ErrorKind::ProtocolError, 0, true},
      {"a login, given once", Choice::Fixed, true, student, 1, ErrorKind::ProtocolError, 0, true},
      {"a login, declined", Choice::Fixed, true, std::nullopt, 2, ErrorKind::ProtocolError, 407, true},
      {"a login, a wrong one", Choice::Fixed, true, ProxyLogin{"student", "nope"}, 6, ErrorKind::ProtocolError, 407, true},
      {"a login in the proxy's URL", Choice::FixedWithLogin, true, std::nullopt, 0, ErrorKind::ProtocolError, 0, true},
      {"http_proxy", Choice::Environment, false, std::nullopt, 0, ErrorKind::ProtocolError, 0, true},
      {"no_proxy names the host", Choice::EnvironmentBypassed, false, std::nullopt, 0, ErrorKind::SocketError, 11001,
       false},
      {"the proxy is down", Choice::Down, false, std::nullopt, 0, ErrorKind::ConnectFailed, 10061, true},
  };
  for (const Case& c : cases) {
    LoopbackServer origin;
    SquidProxy proxy;
    SquidProxy::Options options{.hosts = {{kOutsideName, "127.0.0.1"}}};
    if (c.proxyWantsLogin) options.login = std::make_pair(student.user, student.password);
    if (std::string why = proxy.Start(options); !why.empty()) GTEST_SKIP() << why;
    std::string proxyName = proxy.Name();
    if (c.choice == Choice::Down) proxy.Stop();
    ForgetProxyLogins();
    int prompts = 0;
    SetProxyLoginPrompt([&](const std::string& name, const std::string& realm) {
      ++prompts;
      EXPECT_EQ(name, proxyName) << c.label;
      EXPECT_EQ(realm, "Campus proxy") << c.label;
      return c.userAnswers;
    });
    // The client itself never resolves the name: behind such a proxy it could not.
    SetHostLookup([](const std::string&, std::uint32_t&) { return sock::kWsaHostNotFound; });
    std::optional<ScopedVariable> httpProxy;
    std::optional<ScopedVariable> noProxy;
    HttpClient client;
    client.ReadTimeout = 10000;
    switch (c.choice) {
      case Choice::Fixed:
      case Choice::Down:
        client.ChooseProxy = [&](const ProxyQuery&) { return ProxyServer{"127.0.0.1", proxy.Port()}; };
        break;
      case Choice::FixedWithLogin:
        client.ChooseProxy = [&](const ProxyQuery&) {
          return ProxyServer{"127.0.0.1", proxy.Port(), student.user, student.password};
        };
        break;
      case Choice::EnvironmentBypassed:
        noProxy.emplace("no_proxy", std::string("example.org, .vextal.test"));
        [[fallthrough]];
      case Choice::Environment:
        httpProxy.emplace("http_proxy", "http://" + proxyName);
        break;
    }
    for (int get = 0; get < 2; ++get) {
      origin.Enqueue({Action::Send(OkResponse("paper " + std::to_string(get)))});
      const std::string url = "http://" + std::string(kOutsideName) + ":" + std::to_string(origin.Port()) + "/Upload/a.pdf";
      try {
        EXPECT_EQ(client.GetText(url), "paper " + std::to_string(get)) << c.label;
        EXPECT_EQ(c.code, 0) << c.label << ": the get should have failed";
        EXPECT_EQ(client.ProxyInUse().Name(), proxyName) << c.label;
      } catch (const HttpClientError& error) {
        EXPECT_STREQ(ErrorKindName(error.Kind()), ErrorKindName(c.failure)) << c.label << ": " << error.Message();
        EXPECT_EQ(error.Code(), c.code) << c.label;
        EXPECT_EQ(error.ProxyName(), c.failureNamesProxy ? proxyName : "") << c.label;
      }
    }
    EXPECT_EQ(prompts, c.prompts) << c.label;
    SetHostLookup({});
    SetProxyLoginPrompt({});
  }
  ForgetProxyLogins();
}

// Windows' Internet Options as a user or a school sets them: a manual proxy with its bypass list, a proxy per scheme,
// and an automatic configuration script that WinHTTP's resolver runs; each decides the proxy of a real request.
TEST(ProxyClient, InternetOptionsNameTheProxyOnWindows) {
  SquidProxy proxy;
  if (std::string why = proxy.Start({.hosts = {{kOutsideName, "127.0.0.1"}}}); !why.empty()) GTEST_SKIP() << why;
  LoopbackServer scriptServer;
  const std::string squid = proxy.Name();
  scriptServer.SetHandler([&](const std::string&) {
    return testsupport::Answer{Action::Send(OkResponse(
        "function FindProxyForURL(url, host) { if (shExpMatch(host, \"*.intranet.test\")) return \"DIRECT\"; "
        "return \"PROXY " + squid + "\"; }", "Content-Type: application/x-ns-proxy-autoconfig\r\n"))};
  });
  struct Case {
    const char* label;
    testsupport::ScopedInternetOptions::Settings settings;
    const char* scheme;
    const char* host;
    bool throughSquid;
  };
  const std::string script = "http://127.0.0.1:" + std::to_string(scriptServer.Port()) + "/proxy.pac";
  const Case cases[] = {
      {"a manual proxy", {squid, "<local>;*.intranet.test"}, "http", kOutsideName, true},
      {"bypassed: a name without a dot", {squid, "<local>;*.intranet.test"}, "http", "printer", false},
      {"bypassed: a listed domain", {squid, "<local>;*.intranet.test"}, "http", "wiki.intranet.test", false},
      {"a proxy per scheme", {"http=127.0.0.1:1;https=" + squid, ""}, "https", kOutsideName, true},
      {"a configuration script", {"", "", script}, "http", kOutsideName, true},
      {"a configuration script's DIRECT", {"", "", script}, "http", "wiki.intranet.test", false},
  };
  for (const Case& c : cases) {
    testsupport::ScopedInternetOptions options;
    if (std::string why = options.Set(c.settings); !why.empty()) GTEST_SKIP() << why;
    ForgetAutomaticProxies();
    // A script's first run may take WinHTTP longer than the program waits on a loaded machine; the test waits it out.
    const ProxyServer chosen = SystemProxyFor({c.scheme, c.host, 80, {}, kGiveUpMs});
    EXPECT_EQ(chosen.Empty() ? "" : chosen.Name(), c.throughSquid ? squid : "") << c.label;
  }
  // And a real request through the proxy the options name.
  testsupport::ScopedInternetOptions options;
  ASSERT_EQ(options.Set({squid, "<local>"}), "");
  LoopbackServer origin;
  origin.Enqueue({Action::Send(OkResponse("paper"))});
  HttpClient client;
  client.ReadTimeout = 10000;
  EXPECT_EQ(client.GetText("http://" + std::string(kOutsideName) + ":" + std::to_string(origin.Port()) + "/a.pdf"), "paper");
  EXPECT_EQ(client.ProxyInUse().Name(), squid);
  ForgetAutomaticProxies();
}

// What goes on the wire to a proxy, seen by a scripted one: the request in absolute form with the login the proxy's
// URL carries, and a proxy that wants only a Windows domain's login schemes, which this client names and cannot give.
TEST(ProxyClient, TheProxySeesTheWholeUrlAndHearsWhyALoginCannotBeGiven) {
  LoopbackServer fakeProxy;
  HttpClient client;
  client.ChooseProxy = [&](const ProxyQuery& query) {
    EXPECT_EQ(query.scheme, "http");
    EXPECT_EQ(query.host, kOutsideName);
    EXPECT_EQ(query.port, 8080);
    return ProxyServer{"127.0.0.1", fakeProxy.Port(), "u", "p"};
  };
  fakeProxy.Enqueue({Action::Send(OkResponse("ok"))});
  EXPECT_EQ(client.GetText("http://papers.vextal.test:8080/admin/ZPR_UpCount.asp?id=7"), "ok");
  ASSERT_EQ(fakeProxy.Requests().size(), 1u);
  EXPECT_EQ(fakeProxy.Requests()[0],
            "GET http://papers.vextal.test:8080/admin/ZPR_UpCount.asp?id=7 HTTP/1.1\r\nContent-Type: text/html\r\n"
            "Host: papers.vextal.test:8080\r\nAccept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\nProxy-Authorization: Basic dTpw\r\n\r\n");

  fakeProxy.Enqueue({Action::Send("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: NTLM\r\n"
                                  "Proxy-Authenticate: Negotiate\r\nContent-Length: 0\r\n\r\n")});
  try {
    client.GetText("http://papers.vextal.test:8080/vextal.asp");
    ADD_FAILURE() << "a proxy that wants NTLM was passed";
  } catch (const HttpClientError& error) {
    EXPECT_EQ(error.Kind(), ErrorKind::ProxyAuthUnsupported);
    EXPECT_EQ(error.Message(), "The proxy asks for a login this program cannot give: NTLM, Negotiate");
    EXPECT_EQ(error.ProxyName(), "127.0.0.1:" + std::to_string(fakeProxy.Port()));
  }
}

}  // namespace
}  // namespace net
