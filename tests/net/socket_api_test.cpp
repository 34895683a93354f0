#include "net/socket_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "tests/support/loopback_server.h"

#ifndef _WIN32
#include <cerrno>
#include <netdb.h>
#endif

// The platform socket calls themselves (Winsock on Windows, POSIX elsewhere): the codes the user reads in messages
// must come out the same from both.
namespace net::sock {
namespace {

using testsupport::Action;
using testsupport::LoopbackServer;

std::uint32_t Loopback() {
  std::uint32_t address = 0;
  EXPECT_EQ(Resolve("127.0.0.1", address), 0);
  return address;
}

// A connected client socket; closed by the destructor.
struct Client {
  Handle handle = CreateTcp();
  explicit Client(int port) {
    EXPECT_NE(handle, kInvalidHandle);
    EXPECT_EQ(Connect(handle, Loopback(), static_cast<std::uint16_t>(port), nullptr), 0);
  }
  ~Client() { Close(handle); }
  void SendAll(const std::string& bytes) { EXPECT_EQ(Send(handle, bytes.data(), bytes.size()), static_cast<long>(bytes.size())); }
  // Receives until the peer ends the connection; returns what Receive returned last.
  long ReceiveToEnd(std::string& received) {
    char chunk[256];
    for (;;) {
      long n = Receive(handle, chunk, sizeof chunk);
      if (n <= 0) return n;
      received.append(chunk, static_cast<std::size_t>(n));
    }
  }
};

TEST(SocketApi, RefusedConnectIs10061BlockingOrStoppable) {
  Handle spare = ListenLoopback(1);
  int closedPort = LocalPort(spare);
  Close(spare);
  std::atomic<bool> stop{false};
  const std::atomic<bool>* stopFlags[] = {nullptr, &stop};
  for (const std::atomic<bool>* stopFlag : stopFlags) {
    Handle handle = CreateTcp();
    ASSERT_EQ(BindAny(handle), 0);
    EXPECT_EQ(Connect(handle, Loopback(), static_cast<std::uint16_t>(closedPort), stopFlag), kWsaEconnrefused)
        << (stopFlag ? "stoppable" : "blocking");
    Close(handle);
  }
}

// Names that resolvers reject by their form fail without asking a name server, so this needs no network.
TEST(SocketApi, UnresolvableHostIs11001) {
  for (const char* host : {"", "no..such.host", "bad host"}) {
    std::uint32_t address = 0;
    EXPECT_EQ(Resolve(host, address), kWsaHostNotFound) << "[" << host << "]";
  }
}

TEST(SocketApi, AFailedLookupAlwaysHasACode) {
#ifdef _WIN32
  EXPECT_EQ(MapLookupFailure(0, 0), kWsaHostNotFound);
  EXPECT_EQ(MapLookupFailure(11004, 0), 11004);
#else
  EXPECT_EQ(MapLookupFailure(EAI_SYSTEM, 0), kWsaHostNotFound);  // a failure without an error number
  EXPECT_EQ(MapLookupFailure(EAI_SYSTEM, ECONNREFUSED), kWsaEconnrefused);
  EXPECT_EQ(MapLookupFailure(EAI_NONAME, 0), kWsaHostNotFound);
  EXPECT_EQ(MapLookupFailure(0, 0), kWsaHostNotFound);  // no error, but no address either
#endif
}

TEST(SocketApi, ResetSeenByAWaitingReceiveIs10054) {
  LoopbackServer server;
  server.Enqueue({Action::Send("01")});
  // The second request tells the server the client is reading; the pause lets its receive start waiting first.
  server.Enqueue({Action::Pause(50), Action::Reset()});
  Client client(server.Port());
  client.SendAll("GET /a HTTP/1.1\r\n\r\n");
  char first[2];
  ASSERT_EQ(Receive(client.handle, first, sizeof first), 2);
  client.SendAll("GET /b HTTP/1.1\r\n\r\n");
  std::string rest;
  EXPECT_EQ(client.ReceiveToEnd(rest), -1);
  EXPECT_EQ(LastError(), kWsaEconnreset);
}

TEST(SocketApi, ReadinessWaitEndsAtItsLimitOrWhenDataOrTheCloseArrives) {
  LoopbackServer server;
  // Nothing comes before the release, so the limited waits end at their limits however slow the machine is.
  server.Enqueue({Action::AwaitRelease(), Action::Pause(100), Action::Send("x"), Action::Pause(20), Action::Close()});
  Client client(server.Port());
  client.SendAll("GET / HTTP/1.1\r\n\r\n");

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitReadable(client.handle, 1), 0);  // the keep-alive probe's wait
  EXPECT_EQ(WaitReadable(client.handle, 30), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));

  // The data cannot come sooner than the server's pause after the release; an unlimited wait lasts until it does.
  start = std::chrono::steady_clock::now();
  server.Release();
  EXPECT_EQ(WaitReadable(client.handle, -1), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  char byte;
  EXPECT_EQ(Receive(client.handle, &byte, 1), 1);
  // The peer's close makes the socket readable too; the receive then reports it as 0 bytes.
  EXPECT_EQ(WaitReadable(client.handle, 5000), 1);
  EXPECT_EQ(Receive(client.handle, &byte, 1), 0);
}

}  // namespace
}  // namespace net::sock
