#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sample_bank.h"

// A loopback stand-in for both the content server and the version server: the ASP pages answer in GBK with chunked
// bodies, files go out with a length, connections stay open as HTTP/1.1 keeps them, and a session cookie is set.
namespace demo {

struct ServerOptions {
  int port = 0;  // 0 = any free port
  std::filesystem::path root = "demo-server-data";
  std::size_t records = 300;
  std::string version = "3.1";
  std::size_t rateKiBPerSecond = 1024;  // file bodies only; 0 = unlimited
  bool quiet = false;
};

// What one request gets back, before it is written to the socket.
struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool chunked = false;
  std::filesystem::path file;  // when set, the body is this file's content
  std::size_t fileSize = 0;
};

class DemoServer {
 public:
  explicit DemoServer(ServerOptions options);
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  // Generates the missing files and binds the listening socket; returns the bound port.
  int Start();
  // Serves until stopRequested turns true, then closes every connection and waits for their threads.
  void Serve(const std::atomic<bool>& stopRequested);

  // Routing, without sockets: method, raw request target (GBK bytes), and whether a session cookie came along.
  Response Answer(const std::string& method, const std::string& target, bool hasSessionCookie) const;

 private:
  void HandleConnection(int socket);
  // Reads the next request head into head, leaving what follows it in pending; false on close, idle or stop.
  bool ReadHead(int socket, std::string& pending, std::string& head);
  bool WriteResponse(int socket, const Response& response, bool headOnly, bool keepAlive);
  bool SendAll(int socket, const char* data, std::size_t size);
  Response AspPage(const std::string& gbkBody) const;
  Response ErrorPage(int status, const std::string& reason) const;
  Response UpdateRecords(const std::string& query) const;
  Response NewPaperCount(const std::string& query) const;
  Response FileName(const std::string& query) const;
  Response UploadedFile(const std::string& relativeGbk) const;
  void Log(const std::string& line);

  ServerOptions m_options;
  std::vector<Paper> m_papers;
  int m_listenSocket = -1;
  std::atomic<bool> m_stopping{false};
  struct Connection {
    int socket = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void ReapFinished();

  std::mutex m_logMutex;
  std::list<std::unique_ptr<Connection>> m_connections;  // touched by the serving thread only
  std::vector<std::string> m_recordsGbk;  // one "<tr>..." line per paper, ready for the wire
};

}  // namespace demo
