#include "tests/support/loopback_server.h"

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

// How often blocked server loops look at the stop flag.
constexpr int kPollMs = 10;
constexpr int kSendTimeoutMs = 10'000;
constexpr int kBacklog = 64;
constexpr std::size_t kReadSize = 4096;

}  // namespace

Action Action::Send(std::string bytes) {
  Action a;
  a.type = Type::Send;
  a.bytes = std::move(bytes);
  return a;
}

Action Action::Pause(int ms) {
  Action a;
  a.type = Type::Pause;
  a.ms = ms;
  return a;
}

Action Action::Close() {
  Action a;
  a.type = Type::Close;
  return a;
}

Action Action::Reset() {
  Action a;
  a.type = Type::Reset;
  return a;
}

Action Action::Hold() {
  Action a;
  a.type = Type::Hold;
  return a;
}

Action Action::AwaitRelease() {
  Action a;
  a.type = Type::AwaitRelease;
  return a;
}

Answer SplitAnswer(const std::string& bytes, std::size_t pieceSize, int pauseMs) {
  Answer answer;
  for (std::size_t pos = 0; pos < bytes.size(); pos += pieceSize) {
    if (pos > 0) answer.push_back(Action::Pause(pauseMs));
    answer.push_back(Action::Send(bytes.substr(pos, pieceSize)));
  }
  return answer;
}

std::string OkResponse(const std::string& body, const std::string& extraHeaders) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

LoopbackServer::LoopbackServer() : m_listener(net::sock::ListenLoopback(kBacklog)) {
  if (m_listener == net::sock::kInvalidHandle) throw std::runtime_error("loopback server: cannot listen");
  m_port = net::sock::LocalPort(m_listener);
  m_acceptThread = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() { Stop(); }

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void LoopbackServer::Enqueue(Answer answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_answers.push_back(std::move(answer));
}

void LoopbackServer::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_handler = std::move(handler);
}

std::vector<std::string> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

bool LoopbackServer::WaitForClosedConnections(int count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_finished.load() >= count; });
}

void LoopbackServer::Release() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_releases;
  }
  m_changed.notify_all();
}

bool LoopbackServer::AwaitRelease() {
  std::unique_lock<std::mutex> lock(m_mutex);
  // Stop() does not notify; the flag is looked at every poll.
  while (!m_changed.wait_for(lock, std::chrono::milliseconds(kPollMs), [&] { return m_releases > 0; })) {
    if (m_stop.load()) return false;
  }
  --m_releases;
  return true;
}

void LoopbackServer::Stop() {
  if (m_stop.exchange(true)) return;
  if (m_acceptThread.joinable()) m_acceptThread.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    threads.swap(m_connectionThreads);
  }
  for (std::thread& t : threads) t.join();
  net::sock::Close(m_listener);
}

void LoopbackServer::AcceptLoop() {
  while (!m_stop.load()) {
    if (net::sock::WaitReadable(m_listener, kPollMs) <= 0) continue;
    net::sock::Handle connection = net::sock::Accept(m_listener);
    if (connection == net::sock::kInvalidHandle) continue;
    net::sock::SetNoDelay(connection);
    // Under Wine a client's close with our answer unread has been seen not to reach this side: the send would wait
    // for ever, and the server's end with it. No test's client pauses its reading this long.
    net::sock::SetSendTimeout(connection, kSendTimeoutMs);
    ++m_accepted;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connectionThreads.emplace_back([this, connection] { Serve(connection); });
  }
}

bool LoopbackServer::SleepUnlessStopped(int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!m_stop.load()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(left < kPollMs ? left + 1 : kPollMs));
  }
  return false;
}

bool LoopbackServer::ReadRequest(net::sock::Handle connection, std::string& pending, std::string& request) {
  for (;;) {
    std::size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      request = pending.substr(0, end + 4);
      pending.erase(0, end + 4);
      return true;
    }
    if (m_stop.load()) return false;
    int ready = net::sock::WaitReadable(connection, kPollMs);
    if (ready < 0) return false;
    if (ready == 0) continue;
    char chunk[kReadSize];
    long n = net::sock::Receive(connection, chunk, sizeof chunk);
    if (n <= 0) return false;
    pending.append(chunk, static_cast<std::size_t>(n));
  }
}

bool LoopbackServer::NextAnswer(const std::string& request, Answer& answer) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
    if (!m_answers.empty()) {
      answer = std::move(m_answers.front());
      m_answers.pop_front();
      return true;
    }
    handler = m_handler;
  }
  if (!handler) return false;
  answer = handler(request);
  return true;
}

void LoopbackServer::Serve(net::sock::Handle connection) {
  std::string pending;
  std::string request;
  bool open = true;
  bool orderly = true;
  while (open && ReadRequest(connection, pending, request)) {
    Answer answer;
    if (!NextAnswer(request, answer)) break;
    for (const Action& action : answer) {
      if (action.type == Action::Type::Send) {
        std::size_t sent = 0;
        while (sent < action.bytes.size()) {
          long n = net::sock::Send(connection, action.bytes.data() + sent, action.bytes.size() - sent);
          if (n <= 0) {
            open = false;
            break;
          }
          sent += static_cast<std::size_t>(n);
        }
      } else if (action.type == Action::Type::Pause) {
        open = SleepUnlessStopped(action.ms);
      } else if (action.type == Action::Type::AwaitRelease) {
        open = AwaitRelease();
      } else if (action.type == Action::Type::Close) {
        open = false;
      } else if (action.type == Action::Type::Reset) {
        orderly = false;
        open = false;
      } else {
        while (SleepUnlessStopped(kPollMs)) {
        }
        open = false;
      }
      if (!open) break;
    }
  }
  if (orderly) {
    net::sock::ShutdownSend(connection);
    net::sock::Close(connection);
  } else {
    net::sock::CloseWithReset(connection);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_finished;
  }
  m_changed.notify_all();
}

}  // namespace testsupport
