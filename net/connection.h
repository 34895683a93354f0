#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_api.h"

namespace net {

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

  // Connects afresh (releasing what was open). With the pump in force or a positive readTimeout the connect runs on
  // a connect thread, given readTimeout (when positive) or connectLimitMs to finish.
  void Connect(const std::string& host, int port, int readTimeout, int connectLimitMs);
  // Looks at an open, idle connection for at most 1 ms: anything readable (a close, a reset, or bytes sent before
  // any request asked for them) gets it released, so the caller connects afresh.
  void Probe();
  void Send(const std::string& bytes);
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

 private:
  // Closes the socket after the peer's close or a failure; buffered bytes stay readable.
  void CloseSocket();
  // True when data arrived within the limit (0 = none), pumping in IdleTimeOut slices on the UI thread.
  bool WaitForData(int limitMs);
  void ThrowIfNotOpen() const;
  // After every pump: a cancel a handler asked for ends the wait here.
  void ThrowIfCancelled();

  sock::Handle m_socket;
  State m_state = State::Released;
  std::string m_host;
  int m_port = 0;
  bool m_peerClosed = false;
  std::vector<char> m_buffer;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  std::size_t m_scanned = 0;  // bytes from m_begin already searched for LF
  bool m_cancelRequested = false;
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
