// How long the window goes unserved while a request waits on a network that stretches the wait: a resolver that never
// answers, a peer that never reads the request, a server that trickles, a server that says nothing, a lossy link (as
// its timing shows at the client: no loss emulation is to be had here, the kernel has no netem). Prints, per case,
// how the get ended, how long it waited and the longest stretch between two services of the window (the pump),
// counted from the get's start to its end. Goal: under 50 ms in every case.
//
//   wait_gaps_bench

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "net/connection.h"
#include "net/http_client.h"
#include "net/http_error.h"
#include "net/pump_policy.h"
#include "net/socket_api.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReadLimitMs = 1000;
constexpr int kConnectLimitMs = 2000;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A server of one connection on its own thread: what it does with the client is the case.
class OneShotServer {
 public:
  enum class Kind { Deaf, Silent, Trickle, Lossy };
  explicit OneShotServer(Kind kind) : m_listener(net::sock::ListenLoopback(1)), m_kind(kind) {
    if (kind == Kind::Deaf) return;  // never accepts: the kernel takes the connection, then shuts its window
    m_thread = std::thread([this] {
      net::sock::Handle client = net::sock::Accept(m_listener);
      char buffer[4096];
      net::sock::Receive(client, buffer, sizeof buffer);
      if (m_kind == Kind::Lossy) {
        ServeOverLossyLink(client);
        net::sock::Close(client);
        return;
      }
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
      if (m_kind == Kind::Trickle) net::sock::Send(client, head.data(), head.size());
      while (!m_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (m_kind == Kind::Trickle) net::sock::Send(client, "x", 1);
      }
      net::sock::Close(client);
    });
  }
  ~OneShotServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    net::sock::Close(m_listener);
  }
  // A link of 100 ms latency where 2 % of the pieces are lost and come again after a retransmission timeout: 4 MiB
  // in 16 KiB pieces, each 100 ms late (a window of 8 in flight, so about 1.3 MiB/s), a lost one a further 250 ms.
  void ServeOverLossyLink(net::sock::Handle client) {
    constexpr std::size_t kPiece = 16 * 1024;
    constexpr std::size_t kPieces = 256;
    constexpr int kInFlight = 8;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kPiece * kPieces) + "\r\n\r\n";
    net::sock::Send(client, head.data(), head.size());
    const std::string piece(kPiece, 'l');
    unsigned seed = 12345;
    for (std::size_t i = 0; i < kPieces && !m_stop; ++i) {
      seed = seed * 1103515245u + 12345u;
      const bool lost = (seed >> 16) % 100 < 2;
      std::this_thread::sleep_for(std::chrono::milliseconds(100 / kInFlight + (lost ? 250 : 0)));
      net::sock::Send(client, piece.data(), piece.size());
    }
  }

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(net::sock::LocalPort(m_listener)) + "/"; }

 private:
  net::sock::Handle m_listener;
  Kind m_kind;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

void Measure(const char* label, const std::string& url, net::HttpClient& client) {
  Clock::time_point last = Clock::now();
  double longest = 0;
  net::SetPumpDispatcher([&] {
    const Clock::time_point now = Clock::now();
    longest = std::max(longest, Ms(now - last));
    last = now;
  });
  const Clock::time_point start = Clock::now();
  std::string ending = "completed";
  try {
    client.GetText(url);
  } catch (const net::HttpClientError& error) {
    ending = error.Message();
  }
  const Clock::time_point end = Clock::now();
  longest = std::max(longest, Ms(end - last));
  net::SetPumpDispatcher({});
  std::printf("%-36s %-44s %9.0f %12.1f\n", label, ending.c_str(), Ms(end - start), longest);
}

}  // namespace

int main() {
  net::PumpPolicy policy;
  std::printf("%-36s %-44s %9s %12s\n", "wait", "how the get ended", "waited ms", "UI gap ms");

  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  net::SetHostLookup([released](const std::string&, std::uint32_t&) {
    released.wait();
    return net::sock::kWsaHostNotFound;
  });
  {
    net::HttpClient client;
    client.ReadTimeout = kReadLimitMs;
    client.ConnectTimeLimit = kConnectLimitMs;
    Measure("a resolver that never answers", "http://papers.vextal.invalid/", client);
  }
  release.set_value();
  net::SetHostLookup({});

  const struct {
    const char* label;
    OneShotServer::Kind kind;
    std::size_t requestBytes;
  } cases[] = {
      {"a peer that never reads (4 MiB head)", OneShotServer::Kind::Deaf, std::size_t{4} << 20},
      {"a server that trickles a byte / 100 ms", OneShotServer::Kind::Trickle, 0},
      {"a server that says nothing", OneShotServer::Kind::Silent, 0},
      {"a lossy link (100 ms, 2 % lost)", OneShotServer::Kind::Lossy, 0},
  };
  for (const auto& c : cases) {
    OneShotServer server(c.kind);
    net::HttpClient client;
    client.ReadTimeout = kReadLimitMs;
    // A floor of 1 KiB per two read limits: ten bytes a second never meet it. A 4 MiB request outgrows what the kernel
    // buffers for a peer that never reads, so the send itself waits.
    if (c.requestBytes > 0) client.ExtraHeaders = {{"X-Padding", std::string(c.requestBytes, 'p')}};
    Measure(c.label, server.Url(), client);
  }
  return 0;
}
