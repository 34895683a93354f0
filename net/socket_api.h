#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// The operating system's socket calls behind a few small functions, so the rest of net/ (and the loopback test
// server) is the same on Windows Sockets and POSIX. Error numbers are always the Windows Sockets codes, because those
// are what users see in messages; POSIX errno values are mapped onto them.
namespace net::sock {

#ifdef _WIN32
using Handle = std::uintptr_t;  // SOCKET
#else
using Handle = int;
#endif
extern const Handle kInvalidHandle;

// Windows Sockets codes used by name in net/.
inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEbadf = 10009;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEnotsock = 10038;
inline constexpr int kWsaEaddrinuse = 10048;
inline constexpr int kWsaEconnaborted = 10053;
inline constexpr int kWsaEconnreset = 10054;
inline constexpr int kWsaEnobufs = 10055;
inline constexpr int kWsaEshutdown = 10058;
inline constexpr int kWsaEconnrefused = 10061;
inline constexpr int kWsaHostNotFound = 11001;

// Starts the socket library once per process (WSAStartup); nothing to do on POSIX. Safe from any thread.
void EnsureStarted();

// The last failed socket call's error as a Windows Sockets code.
int LastError();
// A POSIX errno value as the Windows Sockets code of the same meaning (unknown values pass through unchanged).
int MapErrno(int posixError);

Handle CreateTcp();
// Binds to any local address and port 0; returns 0 or an error code.
int BindAny(Handle handle);
// Connects to an IPv4 address (network byte order). With a stop flag the call gives up, returning kWsaEintr, soon
// after the flag is raised, so another thread can end it without closing the socket underneath it. Returns 0 or an
// error code.
int Connect(Handle handle, std::uint32_t address, std::uint16_t port, const std::atomic<bool>* stop);
// Bytes sent or received (0 = the peer closed), or -1 with LastError() set.
long Send(Handle handle, const char* data, std::size_t size);
long Receive(Handle handle, char* data, std::size_t size);
// 1 when readable (data, close or error pending), 0 when the time passed, -1 when the wait failed (LastError()).
// timeoutMs < 0 waits without limit.
int WaitReadable(Handle handle, int timeoutMs);
// 1 when a send would take bytes (or fail at once), 0 when the time passed, -1 when the wait failed (LastError()).
int WaitWritable(Handle handle, int timeoutMs);
// From now on sends and receives on this socket never block: they fail with kWsaEwouldblock instead, and the caller
// waits with WaitReadable or WaitWritable, so every wait keeps its limit and its pump.
void SetNonBlocking(Handle handle);
void ShutdownSend(Handle handle);
void Close(Handle handle);
// Closes with an RST instead of an orderly close (SO_LINGER with a zero timeout).
void CloseWithReset(Handle handle);

// The code of a failed lookup (getaddrinfo's result and, on POSIX, errno after it); never 0.
int MapLookupFailure(int lookupResult, int systemError);
// The first IPv4 address of a host name (network byte order); returns 0 or a host-lookup error code (11001, ...).
int Resolve(const std::string& host, std::uint32_t& address);

// Server side, for the loopback test server and the tools: listens on 127.0.0.1 with an ephemeral port.
Handle ListenLoopback(int backlog);
int LocalPort(Handle handle);
Handle Accept(Handle listener);
void SetNoDelay(Handle handle);
// A blocking send that cannot go on for this long fails instead of waiting for a peer that may never read again.
void SetSendTimeout(Handle handle, int timeoutMs);

}  // namespace net::sock
