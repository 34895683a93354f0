#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/channel.h"
#include "net/tls_channel.h"
#include "net/socket_api.h"

namespace net {

// A response must deliver at least `bytes` within `windowMs` of the moment it was asked for, and again within
// `windowMs` of each time it has done so: a read limit bounds a silence, and a server that trickles a byte just
// before it would otherwise hold a request for ever. A wait that ends under the floor fails as ReadTimedOut.
struct ProgressFloor {
  std::size_t bytes = 0;  // 0: no floor
  int windowMs = 0;
};

// Looks a host name up; a dotted quad and "localhost" never get here. Tests put in one that never answers, as a
// resolver that does not reply does.
using HostLookup = std::function<int(const std::string& host, std::uint32_t& address)>;
// An empty lookup restores the system's.
void SetHostLookup(HostLookup lookup);

// One client's TCP connection: connecting (on a connect thread while the UI is pumped), sending, and reading lines
// and byte runs out of a receive buffer that stays small whatever the body size. Every wait serves the UI through
// the PumpPolicy in force. Failures are HttpClientError.
class Connection {
 public:
  enum class State {
    Released,      // never connected, or fully closed; reads and sends fail with NotConnected
    SocketClosed,  // the peer closed or a failure closed the socket; buffered bytes may still be read
    Open,
  };

  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  State GetState() const { return m_state; }
  bool IsOpen() const { return m_state == State::Open; }
  const std::string& Host() const { return m_host; }
  int Port() const { return m_port; }

  // Connects afresh (releasing what was open). With the pump in force or a positive readTimeout the name lookup and
  // the connect run on a connect thread, given readTimeout (when positive) or connectLimitMs to finish, so a resolver
  // that does not answer neither freezes the window nor outlasts the limit or a cancel.
  void Connect(const std::string& host, int port, int readTimeout, int connectLimitMs);
  // TLS to host over the open connection, every wait of the handshake limited to limitMs (0 = none) and open to the
  // cancel; from then on every byte goes through it. Failures close the socket.
  void StartTls(const std::string& host, int limitMs, TlsCheck check = TlsCheck::Certificate);
  // The TLS protocol agreed ("TLSv1.3"); empty on a plain connection.
  const std::string& TlsProtocol() const { return m_protocol; }
  // Looks at an open, idle connection for at most 1 ms: anything readable (a close, a reset, or bytes sent before
  // any request asked for them) gets it released, so the caller connects afresh.
  void Probe();
  // Sends every byte; a wait for room in the peer's window has limitMs (0 = none) and fails as ReadTimedOut.
  void Send(const std::string& bytes, int limitMs);
  // Holds every receive from now on to the floor, until disarmed.
  void ArmProgressFloor(ProgressFloor floor);
  void DisarmProgressFloor() { m_floor = ProgressFloor(); }
  // Reads one line (without CR LF) of at most maxLength bytes. Returns false, with an empty line, when the peer
  // closed while only the start of a line had arrived (those bytes stay buffered).
  bool ReadLine(std::string& line, std::size_t maxLength, int readTimeout, std::size_t receiveSize);
  // Waits for data and receives once. False when the peer has closed (the socket is closed then).
  bool ReceiveMore(int readTimeout, std::size_t receiveSize);

  std::size_t Buffered() const { return m_end - m_begin; }
  const char* BufferedData() const { return m_buffer.data() + m_begin; }
  void Consume(std::size_t count);
  // Capacity of the receive buffer, for tests that check it does not grow with a body.
  std::size_t BufferCapacity() const { return m_buffer.size(); }

  // Shuts down sending and closes; reads and sends fail with NotConnected until the next Connect.
  void Release();

  // Asked by a handler the pump runs while this connection waits (a connect, a wait for data, a send): the wait ends
  // when the pump returns, failing with Cancelled, and the socket is closed (bytes received stay readable). Stays asked until it has ended a
  // wait or is cleared.
  void Cancel() { m_cancelRequested = true; }
  void ClearCancel() { m_cancelRequested = false; }
  bool CancelRequested() const { return m_cancelRequested; }

 private:
  // Closes the socket after the peer's close or a failure; buffered bytes stay readable.
  void CloseSocket();
  enum class Direction { Receive, Send };
  void ConnectOnThread(sock::Handle handle, const std::string& host, std::uint16_t networkPort, int limitMs,
                       bool pumping);
  // True when data arrived within the limit (0 = none), pumping in IdleTimeOut slices on the UI thread.
  bool WaitForData(int limitMs);
  // Serves the window after a wait or a send: always after one that found nothing (idle), after every one when the
  // policy says so, and in any case once a slice has passed since it was last served here, so a trickle that keeps
  // every wait short, or a long send, never keeps the window unserved for longer than a slice.
  void ServeWindow(bool idle);
  bool WaitUntilReady(Direction direction, int limitMs);
  // The wait a receive may take: the read limit, or less when the floor's window ends first (floorDecides).
  int WaitLimitUnderFloor(int readTimeout, bool& floorDecides);
  void ThrowIfNotOpen() const;
  // After every pump: a cancel a handler asked for ends the wait here.
  void ThrowIfCancelled();

  sock::Handle m_socket;
  std::unique_ptr<Channel> m_channel;
  std::string m_protocol;
  State m_state = State::Released;
  std::string m_host;
  int m_port = 0;
  bool m_peerClosed = false;
  std::vector<char> m_buffer;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  std::size_t m_scanned = 0;  // bytes from m_begin already searched for LF
  bool m_cancelRequested = false;
  std::int64_t m_lastServedMs = 0;
  ProgressFloor m_floor;
  std::int64_t m_floorWindowStartMs = 0;
  std::size_t m_floorBytesInWindow = 0;
};

// The UI thread's wait for the connect thread: slices of sliceMs, a pump request after each, until the thread has
// finished or limitMs have passed; the rest of the limit, when no more than one slice, is slept in one go.
// Returns whether the thread finished.
bool WaitForConnectThread(int limitMs, int sliceMs, const std::function<void(int)>& sleepMs,
                          const std::function<void()>& pump, const std::function<bool()>& finished);

// Starts the connect thread. Tests put in one that throws std::system_error, as a process out of threads does; an
// empty starter restores std::thread.
using ThreadStarter = std::function<std::thread(std::function<void()>)>;
void SetConnectThreadStarter(ThreadStarter starter);

// The length of the first wait when a limit is cut into slices: what is left over after the largest multiple of the
// slice that is smaller than the limit; the later waits are whole slices.
int FirstWaitSlice(int limitMs, int sliceMs);

}  // namespace net
