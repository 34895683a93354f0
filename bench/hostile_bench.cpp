// Floods from a hostile server against the program's own HTTP client, each in a process of its own so bench/hostile
// can read its peak memory. The server runs on a thread of this process and makes its bytes up as it sends them, so
// the peak is the client's.
//
//   hostile_bench head-flood MIB        one head of MIB MiB of header lines
//   hostile_bench cookie-flood COUNT    COUNT cookies of distinct names, as many per response as a head may carry,
//                                       then one more get that sends them back
//   hostile_bench cookie-size COUNT     COUNT cookies of 4000 bytes, then one more get
//
// Prints "<seconds> <outcome> <last get ms>": the whole case, how the last get ended (ok or the error kind), and how
// long the last get took (for the cookie cases, the one that builds and sends the Cookie header).

#include "net/http_client.h"
#include "net/http_error.h"
#include "net/socket_api.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kFloodLineBytes = 1000;
// Lines per cookie response: under the client's head bound, with room for the status and length lines.
constexpr int kCookiesPerResponse = 900;
constexpr int kBigCookiesPerResponse = 60;
constexpr std::size_t kBigCookieValue = 4000;

using Clock = std::chrono::steady_clock;

bool SendAll(net::sock::Handle handle, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    long n = net::sock::Send(handle, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadRequest(net::sock::Handle handle) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    long n = net::sock::Receive(handle, buffer, sizeof buffer);
    if (n <= 0) return false;
    request.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// Serves connections one after another; `answer` writes the response to the n-th request (false ends the connection).
void Serve(net::sock::Handle listener, const std::function<bool(net::sock::Handle, int)>& answer) {
  int request = 0;
  for (;;) {
    net::sock::Handle connection = net::sock::Accept(listener);
    if (connection == net::sock::kInvalidHandle) return;
    while (ReadRequest(connection) && answer(connection, request++)) {
    }
    net::sock::Close(connection);
  }
}

std::string CookieResponse(int first, int count, std::size_t valueBytes) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  const std::string value(valueBytes, 'v');
  for (int i = first; i < first + count; ++i) head += "Set-Cookie: c" + std::to_string(i) + "=" + value + "; path=/\r\n";
  return head + "Content-Length: 2\r\n\r\nok";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: hostile_bench head-flood MIB | cookie-flood COUNT | cookie-size COUNT\n");
    return 2;
  }
  const std::string mode = argv[1];
  const long amount = std::atol(argv[2]);
  net::sock::Handle listener = net::sock::ListenLoopback(4);
  const std::string url = "http://127.0.0.1:" + std::to_string(net::sock::LocalPort(listener)) + "/";

  int gets = 1;
  std::function<bool(net::sock::Handle, int)> answer;
  if (mode == "head-flood") {
    answer = [amount](net::sock::Handle connection, int) {
      const std::string line = "X-Flood: " + std::string(kFloodLineBytes - 11, 'f') + "\r\n";
      if (!SendAll(connection, "HTTP/1.1 200 OK\r\n")) return false;
      for (std::size_t sent = 0; sent < static_cast<std::size_t>(amount) * kMiB; sent += line.size()) {
        if (!SendAll(connection, line)) return false;  // the client gave up: what it should do
      }
      SendAll(connection, "Content-Length: 2\r\n\r\nok");
      return false;
    };
  } else if (mode == "cookie-flood" || mode == "cookie-size") {
    const bool big = mode == "cookie-size";
    const int perResponse = big ? kBigCookiesPerResponse : kCookiesPerResponse;
    gets = static_cast<int>((amount + perResponse - 1) / perResponse) + 1;
    answer = [amount, perResponse, big](net::sock::Handle connection, int request) {
      const int first = request * perResponse;
      const int count = static_cast<int>(std::min<long>(perResponse, std::max<long>(amount - first, 0)));
      return SendAll(connection, CookieResponse(first, count, big ? kBigCookieValue : 1));
    };
  } else {
    std::fprintf(stderr, "unknown case %s\n", mode.c_str());
    return 2;
  }
  std::thread server([listener, answer] { Serve(listener, answer); });
  server.detach();  // ends with the process

  net::HttpClient client;
  std::string outcome;
  const auto start = Clock::now();
  auto lastStart = start;
  for (int i = 0; i < gets; ++i) {
    lastStart = Clock::now();
    try {
      client.GetText(url);
      outcome = "ok";
    } catch (const net::HttpClientError& error) {
      outcome = net::ErrorKindName(error.Kind());
    }
  }
  const auto end = Clock::now();
  std::printf("%.3f %s %.3f\n", std::chrono::duration<double>(end - start).count(), outcome.c_str(),
              std::chrono::duration<double, std::milli>(end - lastStart).count());
  return 0;
}
