#include "net/connection.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/pump_policy.h"
#include "net/http_error.h"
#include "net/http_text.h"
#include "net/socket_errors.h"
#include "net/tls_channel.h"

namespace net {

namespace {

constexpr int kConnectSliceMaxMs = 125;
constexpr int kProbeMs = 1;
constexpr std::size_t kSendPiece = 64 * 1024;
// Consumed bytes are dropped from the front of the receive buffer once this many have gathered.
constexpr std::size_t kCompactAfter = 32768;

const char kClosedGracefully[] = "Connection Closed Gracefully.";
const char kNotConnected[] = "Not Connected";
const char kReadTimeout[] = "Read Timeout";
const char kTooSlow[] = "Read Timeout: the server sends too slowly.";
const char kSendTimeout[] = "Write Timeout";
const char kLineTooLong[] = "Max line length exceeded.";
const char kConnectTimedOut[] = "Connect timed out.";
const char kCancelled[] = "Operation cancelled.";
const char kCannotAllocate[] = "Cannot allocate socket.";
const char kCannotBind[] = "Could not bind socket. Address and port are already in use.";

ThreadStarter& ConnectThreadStarter() {
  static ThreadStarter starter;
  return starter;
}

std::thread StartThread(std::function<void()> body) {
  const ThreadStarter& starter = ConnectThreadStarter();
  return starter ? starter(std::move(body)) : std::thread(std::move(body));
}

[[noreturn]] void ThrowSocketError(ErrorKind kind, int code) {
  throw HttpClientError(kind, SocketErrorMessage(code), code);
}

// Four dot-separated numbers from 0 to 255, in network byte order.
bool ParseDottedQuad(const std::string& host, std::uint32_t& address) {
  unsigned char bytes[4];
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t start = pos;
    int value = 0;
    while (pos < host.size() && host[pos] >= '0' && host[pos] <= '9' && pos - start < 3) {
      value = value * 10 + (host[pos] - '0');
      ++pos;
    }
    if (pos == start || value > 255) return false;
    bytes[part] = static_cast<unsigned char>(value);
    if (part < 3) {
      if (pos >= host.size() || host[pos] != '.') return false;
      ++pos;
    }
  }
  if (pos != host.size()) return false;
  std::memcpy(&address, bytes, sizeof address);
  return true;
}

// Shared, because a connect thread left in a lookup that never answers may still be calling the one it took when a
// test puts in another.
std::mutex g_lookupMutex;
std::shared_ptr<const HostLookup> g_lookup;

std::shared_ptr<const HostLookup> HostLookupInUse() {
  std::lock_guard<std::mutex> lock(g_lookupMutex);
  return g_lookup;
}

int ResolveHost(const std::string& host, std::uint32_t& address) {
  if (EqualsNoCase(host, "localhost")) return ParseDottedQuad("127.0.0.1", address) ? 0 : sock::kWsaHostNotFound;
  if (ParseDottedQuad(host, address)) return 0;
  const std::shared_ptr<const HostLookup> lookup = HostLookupInUse();
  return lookup ? (*lookup)(host, address) : sock::Resolve(host, address);
}

std::int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int IdleSlice() {
  PumpPolicy* policy = PumpPolicy::InForce();
  int idle = policy != nullptr ? policy->IdleTimeOut() : 0;
  return idle > 0 ? idle : 1;
}

// What the UI thread and the connect thread share. The thread looks the host up and then connects; a lookup cannot be
// interrupted (a resolver that does not answer holds getaddrinfo for many seconds), so a wait that ends first leaves
// the thread behind, and the thread then never touches the socket: `phase` under the mutex decides which of the two
// still owns it.
struct ConnectJob {
  enum class Phase { Lookup, Connecting, Done };
  std::atomic<bool> stop{false};
  std::atomic<bool> finished{false};
  Phase phase = Phase::Lookup;
  int lookupError = 0;
  int error = 0;
  std::mutex mutex;
  std::condition_variable done;

  void Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      phase = Phase::Done;
      finished.store(true);
    }
    done.notify_all();
  }
  // After the lookup: whether the connect may go on with the socket (nobody has given up on it).
  bool StartConnecting() {
    std::lock_guard<std::mutex> lock(mutex);
    if (stop.load()) return false;
    phase = Phase::Connecting;
    return true;
  }
  // The waiter gives up: true when the thread is still in its lookup and will never use the socket, so it may be left
  // to finish on its own; false when it is connecting, which the stop flag ends within a poll.
  bool GiveUp() {
    std::lock_guard<std::mutex> lock(mutex);
    stop.store(true);
    return phase == Phase::Lookup;
  }
  // Sleeps one slice, but wakes as soon as the connect is through: a connection should not cost a whole slice.
  void SleepUnlessFinished(int ms) {
    std::unique_lock<std::mutex> lock(mutex);
    done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finished.load(); });
  }
};

}  // namespace

bool WaitForConnectThread(int limitMs, int sliceMs, const std::function<void(int)>& sleepMs,
                          const std::function<void()>& pump, const std::function<bool()>& finished) {
  int remaining = limitMs;
  while (remaining > sliceMs) {
    sleepMs(sliceMs);
    pump();
    remaining -= sliceMs;
    if (finished()) return true;
  }
  sleepMs(finished() ? 0 : remaining);
  return finished();
}

void SetConnectThreadStarter(ThreadStarter starter) { ConnectThreadStarter() = std::move(starter); }

void SetHostLookup(HostLookup lookup) {
  std::lock_guard<std::mutex> lock(g_lookupMutex);
  g_lookup = lookup ? std::make_shared<const HostLookup>(std::move(lookup)) : nullptr;
}

int FirstWaitSlice(int limitMs, int sliceMs) {
  if (limitMs <= sliceMs) return limitMs;
  int wholeSlices = (limitMs - 1) / sliceMs;
  return limitMs - wholeSlices * sliceMs;
}

Connection::Connection() : m_socket(sock::kInvalidHandle) {}

Connection::~Connection() { Release(); }

void Connection::Release() {
  // TLS says goodbye over the socket it still has.
  m_channel.reset();
  m_protocol.clear();
  if (m_socket != sock::kInvalidHandle) {
    sock::ShutdownSend(m_socket);
    sock::Close(m_socket);
    m_socket = sock::kInvalidHandle;
  }
  m_state = State::Released;
  m_peerClosed = true;
  m_begin = m_end = m_scanned = 0;
}

void Connection::CloseSocket() {
  m_channel.reset();
  if (m_socket != sock::kInvalidHandle) {
    sock::Close(m_socket);
    m_socket = sock::kInvalidHandle;
  }
  m_peerClosed = true;
  if (m_state == State::Open) m_state = State::SocketClosed;
}

void Connection::ThrowIfNotOpen() const {
  if (m_state == State::Released) throw HttpClientError(ErrorKind::NotConnected, kNotConnected);
  if (m_state == State::SocketClosed) throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
}

void Connection::ThrowIfCancelled() {
  if (!m_cancelRequested) return;
  m_cancelRequested = false;
  // Bytes already received stay readable: a body sink may keep them for a later range.
  CloseSocket();
  throw HttpClientError(ErrorKind::Cancelled, kCancelled);
}

void Connection::Connect(const std::string& host, int port, int readTimeout, int connectLimitMs) {
  Release();
  sock::Handle handle = sock::CreateTcp();
  if (handle == sock::kInvalidHandle) throw HttpClientError(ErrorKind::SocketSetupFailed, kCannotAllocate);
  int error = sock::BindAny(handle);
  if (error != 0) {
    sock::Close(handle);
    if (error == sock::kWsaEaddrinuse) throw HttpClientError(ErrorKind::SocketSetupFailed, kCannotBind);
    ThrowSocketError(ErrorKind::SocketError, error);
  }

  std::uint16_t networkPort = static_cast<std::uint16_t>(port);
  bool pumping = PumpPolicyInForceHere();
  if (pumping || readTimeout > 0) {
    ConnectOnThread(handle, host, networkPort, readTimeout > 0 ? readTimeout : connectLimitMs, pumping);
  } else {
    std::uint32_t address = 0;
    error = ResolveHost(host, address);
    if (error == 0) error = sock::Connect(handle, address, networkPort, nullptr);
    if (error != 0) {
      sock::Close(handle);
      ThrowSocketError(ErrorKind::SocketError, error);
    }
  }
  sock::SetNonBlocking(handle);
  m_socket = handle;
  m_channel = std::make_unique<PlainChannel>(handle);
  m_state = State::Open;
  m_host = host;
  m_port = port;
  m_peerClosed = false;
  m_begin = m_end = m_scanned = 0;
}

void Connection::ConnectOnThread(sock::Handle handle, const std::string& host, std::uint16_t networkPort, int limitMs,
                                 bool pumping) {
  auto job = std::make_shared<ConnectJob>();
  std::thread worker;
  try {
    worker = StartThread([job, handle, host, networkPort] {
      std::uint32_t address = 0;
      job->lookupError = ResolveHost(host, address);
      if (job->lookupError == 0 && job->StartConnecting()) {
        int e = sock::Connect(handle, address, networkPort, &job->stop);
        // These two arise when the socket is closed underneath the connect on a timeout; nobody reads them then.
        if (e != 0 && e != sock::kWsaEbadf && e != sock::kWsaEnotsock) job->error = e;
      }
      job->Finish();
    });
  } catch (const std::system_error&) {
    // A process out of threads is out of a resource, as a socket layer out of buffers is; the user sees a socket
    // error rather than an unknown exception, and the socket does not outlive the get.
    sock::Close(handle);
    ThrowSocketError(ErrorKind::SocketError, sock::kWsaEnobufs);
  }
  int slice = pumping ? std::min(IdleSlice(), kConnectSliceMaxMs) : kConnectSliceMaxMs;
  bool finished = WaitForConnectThread(
      limitMs, slice, [&job](int ms) { job->SleepUnlessFinished(ms); }, [] { PumpRequest(true); },
      [this, &job] { return job->finished.load() || m_cancelRequested; });
  if (!job->finished.load() && job->GiveUp()) {
    // Still looking the name up: the thread ends when the resolver answers, without the socket.
    worker.detach();
  } else {
    worker.join();
  }
  if (m_cancelRequested) {
    sock::Close(handle);
    ThrowIfCancelled();
  }
  if (!finished) {
    sock::Close(handle);
    throw HttpClientError(ErrorKind::ConnectTimedOut, kConnectTimedOut);
  }
  if (job->lookupError != 0) {
    sock::Close(handle);
    ThrowSocketError(ErrorKind::SocketError, job->lookupError);
  }
  if (job->error != 0) {
    sock::Close(handle);
    ThrowSocketError(ErrorKind::ConnectFailed, job->error);
  }
}

void Connection::ServeWindow(bool idle) {
  const PumpPolicy* policy = PumpPolicy::InForce();
  const std::int64_t now = SteadyNowMs();
  const bool due = now - m_lastServedMs >= IdleSlice();
  if (!idle && !due && (policy == nullptr || policy->OnlyWhenIdle())) return;
  PumpRequest(true);
  m_lastServedMs = now;
}

bool Connection::WaitForData(int limitMs) { return WaitUntilReady(Direction::Receive, limitMs); }

bool Connection::WaitUntilReady(Direction direction, int limitMs) {
  if (m_state != State::Open) throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
  bool sliced = PumpPolicyInForceHere();
  auto waitOnce = [this, direction](int& ms) {
    // A slice never outlasts the window's next service, however the waits before it fell.
    if (ms > 0 && PumpPolicyInForceHere()) {
      ms = static_cast<int>(std::clamp<std::int64_t>(m_lastServedMs + IdleSlice() - SteadyNowMs(), 1, ms));
    }
    int rc = direction == Direction::Receive ? sock::WaitReadable(m_socket, ms) : sock::WaitWritable(m_socket, ms);
    // Taken before the pump: a handler it runs may make socket calls of its own and overwrite the error.
    const int error = rc < 0 ? sock::LastError() : 0;
    ServeWindow(rc <= 0);
    ThrowIfCancelled();
    if (rc < 0) {
      // A wait that fails outright would fail again at once: end it rather than spin.
      CloseSocket();
      ThrowSocketError(ErrorKind::SocketError, error);
    }
    return rc > 0;
  };
  if (limitMs <= 0) {
    // The policy is read afresh for every slice: a handler run by the pump may replace or end it.
    for (bool pumping = sliced;; pumping = PumpPolicyInForceHere()) {
      int ms = pumping ? IdleSlice() : -1;
      if (waitOnce(ms)) return true;
    }
  }
  int remaining = limitMs;
  int slice = sliced ? FirstWaitSlice(limitMs, IdleSlice()) : limitMs;
  while (remaining > 0) {
    if (waitOnce(slice)) return true;
    remaining -= slice;
    slice = std::min(IdleSlice(), remaining);
  }
  return false;
}

void Connection::ArmProgressFloor(ProgressFloor floor) {
  m_floor = floor;
  m_floorWindowStartMs = SteadyNowMs();
  m_floorBytesInWindow = 0;
}

int Connection::WaitLimitUnderFloor(int readTimeout, bool& floorDecides) {
  floorDecides = false;
  if (m_floor.bytes == 0 || m_floor.windowMs <= 0) return readTimeout;
  const std::int64_t now = SteadyNowMs();
  if (m_floorBytesInWindow >= m_floor.bytes) {
    m_floorWindowStartMs = now;
    m_floorBytesInWindow = 0;
  }
  const std::int64_t left = std::max<std::int64_t>(0, m_floorWindowStartMs + m_floor.windowMs - now);
  if (readTimeout > 0 && readTimeout <= left) return readTimeout;
  floorDecides = true;
  // A wait of 0 would mean no limit at all.
  return static_cast<int>(std::max<std::int64_t>(1, left));
}

bool Connection::ReceiveMore(int readTimeout, std::size_t receiveSize) {
  if (m_state != State::Open) ThrowIfNotOpen();
  ChannelWait wait = ChannelWait::Readable;
  for (;;) {
    // Bytes the channel holds already (the rest of a TLS record) need no wait, and the socket may show none.
    if (!m_channel->HasBuffered()) {
      bool floorDecides = false;
      const int limit = WaitLimitUnderFloor(readTimeout, floorDecides);
      const bool ready =
          wait == ChannelWait::Readable ? WaitForData(limit) : WaitUntilReady(Direction::Send, limit);
      if (!ready) {
        // Whatever arrives later belongs to this response; it must never be read as the next one.
        CloseSocket();
        throw HttpClientError(ErrorKind::ReadTimedOut, floorDecides ? kTooSlow : kReadTimeout);
      }
    }
    if (m_begin == m_end) {
      m_begin = m_end = m_scanned = 0;
    } else if (m_begin >= kCompactAfter) {
      std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
      m_end -= m_begin;
      m_begin = 0;
    }
    if (m_buffer.size() < m_end + receiveSize) m_buffer.resize(m_end + receiveSize);
    int error = 0;
    long received = 0;
    try {
      received = m_channel->Receive(m_buffer.data() + m_end, receiveSize, wait, error);
    } catch (const HttpClientError&) {
      CloseSocket();
      throw;
    }
    if (received > 0) {
      m_end += static_cast<std::size_t>(received);
      m_floorBytesInWindow += static_cast<std::size_t>(received);
      return true;
    }
    if (received == 0) {
      CloseSocket();
      return false;
    }
    // Readable, yet nothing to take (a segment dropped for a bad checksum, a TLS record not yet whole): wait again.
    if (received == Channel::kWouldWait) continue;
    CloseSocket();
    // An abort or shutdown after data arrived: the data is the answer, and the next read finds the close.
    if ((error == sock::kWsaEconnaborted || error == sock::kWsaEshutdown) && Buffered() > 0) return false;
    ThrowSocketError(ErrorKind::SocketError, error);
  }
}

void Connection::StartTls(const std::string& host, int limitMs, TlsCheck check) {
  ThrowIfNotOpen();
  try {
    std::unique_ptr<TlsChannel> tls = MakeTlsChannel(m_socket, host, check);
    ChannelWait wait = ChannelWait::Readable;
    // Every wait of the handshake has the read limit and the cancel of a plain read: a server that accepts the
    // connection and then says nothing is a silent server like any other.
    while (!tls->Handshake(wait)) {
      if (!WaitUntilReady(wait == ChannelWait::Readable ? Direction::Receive : Direction::Send, limitMs)) {
        throw HttpClientError(ErrorKind::ReadTimedOut, kReadTimeout);
      }
    }
    m_protocol = tls->Protocol();
    m_channel = std::move(tls);
  } catch (const HttpClientError&) {
    CloseSocket();
    throw;
  }
}

void Connection::Probe() {
  if (m_state != State::Open) return;
  int rc = sock::WaitReadable(m_socket, kProbeMs);
  ServeWindow(rc <= 0);
  if (rc <= 0) return;
  // A TLS server's session tickets make the socket readable without spoiling anything.
  if (m_state == State::Open && !m_channel->IdleConnectionSpoilt()) return;
  // Closed or reset while idle, or bytes nobody has asked for yet (the tail of an earlier response that said less
  // than it sent): either way this connection cannot carry the next answer, and the get starts on a fresh one.
  Release();
}

void Connection::Send(const std::string& bytes, int limitMs) {
  ThrowIfNotOpen();
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ChannelWait wait = ChannelWait::Writable;
    int error = 0;
    long n = 0;
    try {
      // In pieces, so a large request that fills the socket's buffer piece by piece still lets the window be served.
      n = m_channel->Send(bytes.data() + sent, std::min(bytes.size() - sent, kSendPiece), wait, error);
    } catch (const HttpClientError&) {
      CloseSocket();
      throw;
    }
    if (n == Channel::kWouldWait) {
      // The peer's window is shut: wait for room with the same limit and pump as a wait for data, so a peer that
      // stops reading cannot hold the request and the window.
      if (!WaitUntilReady(wait == ChannelWait::Writable ? Direction::Send : Direction::Receive, limitMs)) {
        CloseSocket();
        throw HttpClientError(ErrorKind::ReadTimedOut, kSendTimeout);
      }
      continue;
    }
    ServeWindow(false);
    ThrowIfCancelled();
    if (n == 0) {
      CloseSocket();
      // Bytes already received are the peer's answer; let the head reader have them.
      if (Buffered() > 0) return;
      throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
    }
    if (n < 0) {
      CloseSocket();
      ThrowSocketError(ErrorKind::SocketError, error);
    }
    sent += static_cast<std::size_t>(n);
  }
}

bool Connection::ReadLine(std::string& line, std::size_t maxLength, int readTimeout, std::size_t receiveSize) {
  for (;;) {
    const char* start = m_buffer.data() + m_begin;
    std::size_t available = Buffered();
    const void* lf = available > m_scanned
                         ? std::memchr(start + m_scanned, '\n', available - m_scanned)
                         : nullptr;
    if (lf != nullptr) {
      std::size_t length = static_cast<const char*>(lf) - start;
      if (length > maxLength) {
        CloseSocket();
        throw HttpClientError(ErrorKind::LineTooLong, kLineTooLong);
      }
      std::size_t textLength = (length > 0 && start[length - 1] == '\r') ? length - 1 : length;
      line.assign(start, textLength);
      Consume(length + 1);
      return true;
    }
    m_scanned = available;
    if (available > maxLength) {
      CloseSocket();
      throw HttpClientError(ErrorKind::LineTooLong, kLineTooLong);
    }
    if (m_state != State::Open) ThrowIfNotOpen();
    if (!ReceiveMore(readTimeout, receiveSize)) {
      if (Buffered() == 0) throw HttpClientError(ErrorKind::ConnectionClosedGracefully, kClosedGracefully);
      line.clear();
      return false;
    }
  }
}

void Connection::Consume(std::size_t count) {
  m_begin += std::min(count, Buffered());
  m_scanned = 0;
  if (m_begin == m_end) {
    m_begin = m_end = 0;
  } else if (m_begin >= kCompactAfter) {
    std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
  }
}

}  // namespace net
