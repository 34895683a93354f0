#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sample_bank.h"

// A loopback stand-in for both the content server and the version server: the ASP pages answer in GBK with chunked
// bodies, files go out with a length and validators and answer single byte ranges, connections stay open as HTTP/1.1
// keeps them, and a session cookie is set.
namespace demo {

// A newer program on offer: the version page announces it, and the signed update description names its installer,
// served by this server like a paper (ranges, validators, the break).
struct UpdateOffer {
  std::filesystem::path installer;
  std::string version;
  std::filesystem::path secretKeyFile;  // the publisher's key, as update-sign keygen writes it
};

struct ServerOptions {
  int port = 0;  // 0 = any free port
  std::filesystem::path root = "demo-server-data";
  std::size_t records = 300;
  std::string version;  // the answer of /vextal.asp while no update is offered
  std::optional<UpdateOffer> offer;
  std::size_t rateKiBPerSecond = 1024;  // file bodies only; 0 = unlimited
  // > 0: the first whole-file answer for each paper stops after this share of its body and the connection closes,
  // so a client's resume can be watched; every later answer is whole.
  double breakShare = 0;
  bool quiet = false;
};

// The parts of a request the answers depend on.
struct Request {
  std::string method;
  std::string target;  // raw, GBK bytes as the client sent them
  bool hasSessionCookie = false;
  std::optional<std::string> range;
  std::optional<std::string> ifRange;
};

// What one request gets back, before it is written to the socket.
struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool chunked = false;
  std::filesystem::path file;  // when set, the body is fileLength bytes of this file from fileOffset
  std::size_t fileOffset = 0;
  std::size_t fileLength = 0;
  std::optional<std::size_t> breakAfter;  // body bytes sent before the connection is dropped
};

class DemoServer {
 public:
  explicit DemoServer(ServerOptions options);
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  // Generates the missing files, signs the offered update's description and binds the listening socket; returns the
  // bound port. Throws std::runtime_error when the offered installer or the key cannot be read.
  int Start();
  // Serves until stopRequested turns true, then closes every connection and waits for their threads.
  void Serve(const std::atomic<bool>& stopRequested);

  // Routing, without sockets. Not const: a broken download is remembered, so the next one for that file is whole.
  Response Answer(const Request& request);

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
  Response UploadedFile(const Request& request, const std::string& relativeGbk);
  // The file's bytes, whole or the one range asked for; nothing when it cannot be read.
  std::optional<Response> FileAnswer(const Request& request, const std::filesystem::path& file);
  Response PlainText(const std::string& body) const;
  void PublishUpdate(const UpdateOffer& offer);
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
  std::mutex m_brokenMutex;
  std::set<std::filesystem::path> m_brokenFiles;  // files whose first whole answer was already cut
  std::list<std::unique_ptr<Connection>> m_connections;  // touched by the serving thread only
  std::vector<std::string> m_recordsGbk;  // one "<tr>..." line per paper, ready for the wire
  struct PublishedUpdate {
    std::string installerPage;
    std::string description;
    std::string signature;
  };
  std::optional<PublishedUpdate> m_update;  // set by Start when an update is offered
};

}  // namespace demo
