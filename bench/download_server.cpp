// A loopback HTTP server for the download benchmark: answers every GET with a body of the given size, sent with
// Content-Length in large writes, and keeps the connection for the next request.
//   download_server SIZE_BYTES      prints the port it listens on (127.0.0.1), then serves until killed
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kWriteSize = 1 << 20;

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void Serve(int fd, std::uint64_t bodySize, const std::vector<char>* pattern) {
  std::string pending;
  char chunk[4096];
  for (;;) {
    std::size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        close(fd);
        return;
      }
      pending.append(chunk, static_cast<std::size_t>(n));
    }
    pending.erase(0, end + 4);
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                       std::to_string(bodySize) + "\r\n\r\n";
    if (!SendAll(fd, head.data(), head.size())) break;
    std::uint64_t left = bodySize;
    bool ok = true;
    while (left > 0 && ok) {
      std::size_t piece = left < kWriteSize ? static_cast<std::size_t>(left) : kWriteSize;
      ok = SendAll(fd, pattern->data(), piece);
      left -= piece;
    }
    if (!ok) break;
  }
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: download_server SIZE_BYTES\n", stderr);
    return 2;
  }
  std::uint64_t bodySize = std::strtoull(argv[1], nullptr, 10);
  static std::vector<char> pattern(kWriteSize);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>('A' + i % 61);

  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(listener, 16) != 0) {
    std::perror("download_server");
    return 1;
  }
  socklen_t len = sizeof sa;
  getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
  std::printf("%d\n", ntohs(sa.sin_port));
  std::fflush(stdout);
  for (;;) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::thread(Serve, fd, bodySize, &pattern).detach();
  }
}
