// A whole response, as a server of any kind might send it, read by the HTTP client over a loopback connection: the
// server side writes the bytes in pieces whose size the input chooses, then closes. Every framing and every status is
// reached; the client must end with a body or an HttpClientError, within its bounds.
//
// Input: byte 0 chooses the piece size (1 to 256 bytes, or everything at once when 0), byte 1 bit 0 whether the body
// is read into memory under the page cap or streamed; the rest is the response.

#include "net/http_client.h"
#include "net/http_error.h"
#include "net/socket_api.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr std::size_t kPageCap = 64 * 1024;
constexpr std::size_t kHeaderBytes = 2;
constexpr std::size_t kReceiveBufferBound = 4 * 32768;

// One server thread for the whole run: starting a thread per input costs more than the input itself.
class Server {
 public:
  Server() : m_thread([this] { Run(); }) {}
  int Port() const { return m_port; }

  // Hands the answer to the server thread, which serves it to the next connection.
  void Offer(std::string answer, std::size_t piece) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
    m_piece = piece;
    m_offered = true;
    m_changed.notify_all();
  }
  // Waits until the offered answer has been served and its connection closed.
  void WaitServed() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_offered; });
  }

 private:
  void Run() {
    for (;;) {
      std::string answer;
      std::size_t piece = 0;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_offered; });
        answer = m_answer;
        piece = m_piece;
      }
      Serve(answer, piece);
      std::lock_guard<std::mutex> lock(m_mutex);
      m_offered = false;
      m_changed.notify_all();
    }
  }

  // Reads the request up to its empty line, so the client's send never meets a closed socket, then writes the answer.
  void Serve(const std::string& answer, std::size_t piece) {
    net::sock::Handle connection = net::sock::Accept(m_listener);
    if (connection == net::sock::kInvalidHandle) return;
    // Small pieces would otherwise wait on the client's delayed acknowledgements.
    net::sock::SetNoDelay(connection);
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      long n = net::sock::Receive(connection, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    for (std::size_t at = 0; at < answer.size(); at += piece) {
      std::size_t size = std::min(piece, answer.size() - at);
      if (net::sock::Send(connection, answer.data() + at, size) <= 0) break;
    }
    net::sock::ShutdownSend(connection);
    net::sock::Close(connection);
  }

  net::sock::Handle m_listener = net::sock::ListenLoopback(1);
  int m_port = net::sock::LocalPort(m_listener);
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::string m_answer;
  std::size_t m_piece = 1;
  bool m_offered = false;
  std::thread m_thread;
};

struct CountingSink : net::BodySink {
  std::size_t bytes = 0;
  void Append(const char*, std::size_t size) override { bytes += size; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Server& server = *new Server;  // never destroyed: its thread serves until the process ends
  if (size < kHeaderBytes) return 0;
  const std::size_t piece = data[0] == 0 ? size : data[0];
  const bool intoMemory = (data[1] & 1) == 0;
  const std::string answer(reinterpret_cast<const char*>(data) + kHeaderBytes, size - kHeaderBytes);

  server.Offer(answer, piece);
  net::HttpClient client;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/f";
  try {
    if (intoMemory) {
      if (client.GetText(url, kPageCap).size() > kPageCap) std::abort();
    } else {
      CountingSink sink;
      client.Get(url, sink);
    }
  } catch (const net::HttpClientError&) {
    // Every failure a server can cause is one of these.
  }
  server.WaitServed();
  if (client.GetConnection().BufferCapacity() > kReceiveBufferBound) std::abort();
  if (client.Response().HeaderLines.size() > net::kMaxResponseHeadLines) std::abort();
  return 0;
}
