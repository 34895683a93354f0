#include "net/http_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <string>

#include "net/http_error.h"
#include "net/pump_policy.h"
#include "net/system_proxy.h"
#include "net/tls_channel.h"
#include "tests/support/loopback_server.h"
#include "tests/support/squid_proxy.h"
#include "tests/support/tls_server.h"

namespace net {
namespace {

using testsupport::Action;
using testsupport::LoopbackServer;
using testsupport::SquidProxy;
using testsupport::TestCertificates;
using testsupport::TlsServer;
using Kind = TestCertificates::Kind;

// A plain HTTP server that answers whatever comes, as soon as a client connects: what a wrong port speaks.
class GreetingServer {
 public:
  explicit GreetingServer(std::string answer) : m_listener(sock::ListenLoopback(4)) {
    m_thread = std::thread([this, answer = std::move(answer)] {
      for (;;) {
        sock::Handle client = sock::Accept(m_listener);
        if (client == sock::kInvalidHandle || m_stop) break;
        sock::Send(client, answer.data(), answer.size());
        sock::ShutdownSend(client);
        sock::Close(client);
      }
    });
  }
  ~GreetingServer() {
    m_stop = true;
    // The accept loop wakes for this connection, sees the stop, and ends.
    std::uint32_t loopback = 0;
    sock::Resolve("127.0.0.1", loopback);
    sock::Handle wake = sock::CreateTcp();
    sock::Connect(wake, loopback, static_cast<std::uint16_t>(Port()), nullptr);
    m_thread.join();
    sock::Close(wake);
    sock::Close(m_listener);
  }
  GreetingServer(const GreetingServer&) = delete;
  GreetingServer& operator=(const GreetingServer&) = delete;
  int Port() const { return sock::LocalPort(m_listener); }

 private:
  sock::Handle m_listener;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

constexpr const char* kAnswerIn2020 =
    "HTTP/1.1 200 OK\r\nDate: Wed, 15 Jan 2020 08:00:00 GMT\r\nContent-Length: 2\r\n\r\nok";
constexpr std::int64_t kJanuary15th2020 = 1579075200;

// A paper of a size that takes many TLS records, with every byte value in it.
std::string Paper() {
  std::string bytes(std::size_t{1} << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
  return bytes;
}

// Every TLS server a user may meet, good and bad, directly and through a proxy's tunnel: the good one delivers the
// paper byte for byte; each bad one fails with what the user must be told, a silent one at the read limit, and a
// cancel ends the handshake.
TEST(TlsClient, AnHttpsOriginIsTrustedExactlyAsFarAsItsCertificateDeserves) {
  enum class Server { Tls, TlsOneZero, TlsIn2020, PlainHttp, Silent };
  struct Case {
    const char* label;
    Server server;
    Kind certificate;
    const char* host;
    bool throughProxy;
    int cancelAtPump;
    ErrorKind kind;  // ProtocolError: no failure
    TlsFailure failure;
  };
  const Case cases[] = {
      {"trusted", Server::Tls, Kind::Good, "localhost", false, 0, ErrorKind::ProtocolError, TlsFailure::Failed},
      {"trusted, by address", Server::Tls, Kind::Good, "127.0.0.1", false, 0, ErrorKind::ProtocolError,
       TlsFailure::Failed},
      {"trusted, through the proxy", Server::Tls, Kind::Good, "localhost", true, 0, ErrorKind::ProtocolError,
       TlsFailure::Failed},
      {"nobody vouches for it", Server::Tls, Kind::Untrusted, "localhost", false, 0, ErrorKind::TlsFailed,
       TlsFailure::Untrusted},
      {"signed by an authority nobody has", Server::Tls, Kind::UnknownIssuer, "localhost", false, 0,
       ErrorKind::TlsFailed, TlsFailure::Untrusted},
      {"another host's", Server::Tls, Kind::OtherHost, "localhost", false, 0, ErrorKind::TlsFailed,
       TlsFailure::OtherHost},
      {"another host's, through the proxy", Server::Tls, Kind::OtherHost, "localhost", true, 0, ErrorKind::TlsFailed,
       TlsFailure::OtherHost},
      {"expired", Server::Tls, Kind::Expired, "localhost", false, 0, ErrorKind::TlsFailed, TlsFailure::Expired},
      // The server's answer says January 2020, when its certificate was good: the computer's clock is the fault.
      {"expired, says a server in 2020", Server::TlsIn2020, Kind::Expired, "localhost", false, 0, ErrorKind::TlsFailed,
       TlsFailure::Expired},
      {"not yet valid", Server::Tls, Kind::NotYetValid, "localhost", false, 0, ErrorKind::TlsFailed,
       TlsFailure::NotYetValid},
      {"TLS 1.0 only", Server::TlsOneZero, Kind::Good, "localhost", false, 0, ErrorKind::TlsFailed, TlsFailure::NoTls},
      {"plain HTTP on the port", Server::PlainHttp, Kind::Good, "localhost", false, 0, ErrorKind::TlsFailed,
       TlsFailure::NoTls},
      {"silent in the handshake", Server::Silent, Kind::Good, "localhost", false, 0, ErrorKind::ReadTimedOut,
       TlsFailure::Failed},
      {"cancelled in the handshake", Server::Silent, Kind::Good, "localhost", false, 3, ErrorKind::Cancelled,
       TlsFailure::Failed},
  };
  TestCertificates certificates;
  if (std::string why = certificates.Make(); !why.empty()) GTEST_SKIP() << why;
  SetExtraTrustedAuthorities(certificates.AuthorityFile());
  const std::string paper = Paper();
  GreetingServer plainServer("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  for (const Case& c : cases) {
    TlsServer tls;
    LoopbackServer loopback;
    int port = loopback.Port();
    if (c.server == Server::Tls || c.server == Server::TlsOneZero || c.server == Server::TlsIn2020) {
      std::vector<std::string> extra;
      if (c.server == Server::TlsOneZero) extra = {"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"};
      const bool in2020 = c.server == Server::TlsIn2020;
      const std::string file = in2020 ? std::string(kAnswerIn2020) : paper;
      if (std::string why = tls.Start(certificates, c.certificate, {{"paper.pdf", file}}, extra,
                                      in2020 ? TlsServer::Files::Answers : TlsServer::Files::Bodies);
          !why.empty()) {
        GTEST_SKIP() << why;
      }
      port = tls.Port();
    } else if (c.server == Server::PlainHttp) {
      port = plainServer.Port();
    } else {
      loopback.Enqueue({Action::Hold()});
    }
    SquidProxy proxy;
    HttpClient client;
    client.ReadTimeout = 2000;
    if (c.throughProxy) {
      if (std::string why = proxy.Start({}); !why.empty()) GTEST_SKIP() << why;
      client.ChooseProxy = [&](const ProxyQuery&) { return ProxyServer{"127.0.0.1", proxy.Port()}; };
    }
    PumpPolicy policy;
    policy.SetIdleTimeOut(20);
    int pumps = 0;
    SetPumpDispatcher([&] {
      if (++pumps == c.cancelAtPump) client.Cancel();
    });
    const std::string url = "https://" + std::string(c.host) + ":" + std::to_string(port) + "/paper.pdf";
    std::string protocol;
    client.OnWorkBegin = [&](HttpClient& sender, WorkMode, std::int64_t) {
      protocol = sender.GetConnection().TlsProtocol();
    };
    try {
      const std::string got = client.GetText(url);
      EXPECT_EQ(c.kind, ErrorKind::ProtocolError) << c.label << ": the get should have failed";
      EXPECT_TRUE(got == paper) << c.label << ": " << got.size() << " bytes, not the paper";
      EXPECT_TRUE(protocol == "TLSv1.3" || protocol == "TLSv1.2") << c.label << ": " << protocol;
    } catch (const HttpClientError& error) {
      EXPECT_STREQ(ErrorKindName(error.Kind()), ErrorKindName(c.kind)) << c.label << ": " << error.Message();
      if (c.kind == ErrorKind::TlsFailed) {
        EXPECT_EQ(error.Code(), static_cast<int>(c.failure)) << c.label;
      }
      const std::optional<std::int64_t> clock =
          c.server == Server::TlsIn2020 ? std::optional<std::int64_t>(kJanuary15th2020) : std::nullopt;
      EXPECT_EQ(error.ServerClock(), clock) << c.label;
    }
    SetPumpDispatcher({});
  }
}

}  // namespace
}  // namespace net
