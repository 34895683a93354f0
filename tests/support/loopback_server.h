#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_api.h"

// A scriptable HTTP server on 127.0.0.1 with an ephemeral port, for tests of anything that talks to a server.
// Each request (read up to its empty line) is recorded and answered with the next scripted answer: a list of
// actions sent byte for byte. After an answer the connection waits for the next request unless an action ended it.
//
//   testsupport::LoopbackServer server;
//   server.Enqueue({Action::Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi")});
//   server.Enqueue(testsupport::SplitAnswer(bytes, 100, 5));          // 100-byte writes, 5 ms apart
//   server.Enqueue({Action::Send(head), Action::Close()});             // close mid-body
//   server.Enqueue({Action::Reset()});                                 // RST instead of an answer
//   server.Enqueue({Action::Hold()});                                  // accept, read, never answer
//   server.Enqueue({Action::Send(head), Action::AwaitRelease(), Action::Send(rest)});
//   ... server.Release();                                              // the test says when the rest may go
//   client.GetText(server.Url("/a/b.asp?x=1"));
//   EXPECT_EQ(server.Requests()[0], "GET /a/b.asp?x=1 HTTP/1.1\r\n...\r\n\r\n");
//   EXPECT_EQ(server.ConnectionCount(), 1);
//
// With no answer queued, the handler (when set) computes one from the request text; without either, the server
// closes the connection. Tolerant of any client behaviour: a client that goes away just ends its connection.
namespace testsupport {

struct Action {
  enum class Type { Send, Pause, Close, Reset, Hold, AwaitRelease };
  Type type = Type::Send;
  std::string bytes;
  int ms = 0;

  static Action Send(std::string bytes);
  static Action Pause(int ms);
  // An orderly close (FIN) after what was sent.
  static Action Close();
  // An abortive close (RST, via SO_LINGER 0).
  static Action Reset();
  // Keeps the connection open and answers nothing more until the server stops.
  static Action Hold();
  // Answers nothing more until the test calls Release(): for an order of events that a pause would only make likely
  // (a busy machine can stretch any pause).
  static Action AwaitRelease();
};
using Answer = std::vector<Action>;

// Sends bytes in writes of pieceSize, pauseMs apart.
Answer SplitAnswer(const std::string& bytes, std::size_t pieceSize, int pauseMs);
// "HTTP/1.1 200 OK" with Content-Length and the body.
std::string OkResponse(const std::string& body, const std::string& extraHeaders = "");

class LoopbackServer {
 public:
  using Handler = std::function<Answer(const std::string& request)>;

  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return m_port; }
  // "http://127.0.0.1:<port>" followed by path.
  std::string Url(const std::string& path) const;

  void Enqueue(Answer answer);
  void SetHandler(Handler handler);

  // Connections accepted, and those the server has finished with (closed by either side).
  int ConnectionCount() const { return m_accepted.load(); }
  int ClosedConnectionCount() const { return m_finished.load(); }
  // Waits until at least count connections are finished; false when timeoutMs passed first.
  bool WaitForClosedConnections(int count, int timeoutMs);
  // Lets one AwaitRelease go on, now or, when none waits yet, the next one to come.
  void Release();
  // Every request head received, in order, byte for byte.
  std::vector<std::string> Requests() const;

  // Ends every connection and the listener; the destructor calls it.
  void Stop();

 private:
  void AcceptLoop();
  void Serve(net::sock::Handle connection);
  // Reads one request head; false when the client went away or the server stops.
  bool ReadRequest(net::sock::Handle connection, std::string& pending, std::string& request);
  bool NextAnswer(const std::string& request, Answer& answer);
  bool SleepUnlessStopped(int ms);
  // Takes one release; false when the server stops first.
  bool AwaitRelease();

  net::sock::Handle m_listener;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_accepted{0};
  std::atomic<int> m_finished{0};
  int m_releases = 0;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Answer> m_answers;
  Handler m_handler;
  std::vector<std::string> m_requests;
  std::thread m_acceptThread;
  std::vector<std::thread> m_connectionThreads;
};

}  // namespace testsupport
