#include "net/socket_api.h"

#include <chrono>
#include <mutex>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace net::sock {

namespace {

// How often a stoppable connect looks at its stop flag.
constexpr int kConnectStopPollMs = 20;

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  return sa;
}

#ifdef _WIN32
void SetNonBlockingMode(Handle handle, bool on) {
  u_long mode = on ? 1 : 0;
  ioctlsocket(static_cast<SOCKET>(handle), FIONBIO, &mode);
}

bool ConnectPending(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
#else
void SetNonBlockingMode(Handle handle, bool on) {
  int flags = fcntl(handle, F_GETFL, 0);
  if (flags >= 0) fcntl(handle, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

bool ConnectPending(int error) { return error == 10036 /*EINPROGRESS*/ || error == 10035 /*EWOULDBLOCK*/; }
#endif

}  // namespace

#ifdef _WIN32
const Handle kInvalidHandle = static_cast<Handle>(INVALID_SOCKET);

void EnsureStarted() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

int LastError() { return WSAGetLastError(); }
int MapErrno(int posixError) { return posixError; }
#else
const Handle kInvalidHandle = -1;

void EnsureStarted() {}

int MapErrno(int e) {
  switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EWOULDBLOCK: return 10035;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN: return 10035;
#endif
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    // Sending to a connection the peer has shut down: Windows reports it as a send after shutdown.
    case EPIPE: return 10058;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return e;
  }
}

int LastError() { return MapErrno(errno); }
#endif

Handle CreateTcp() {
  EnsureStarted();
#ifdef _WIN32
  return static_cast<Handle>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
#else
  return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#endif
}

int BindAny(Handle handle) {
  sockaddr_in sa = MakeAddress(htonl(INADDR_ANY), 0);
  if (bind(handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return LastError();
  return 0;
}

int Connect(Handle handle, std::uint32_t address, std::uint16_t port, const std::atomic<bool>* stop) {
  sockaddr_in sa = MakeAddress(address, port);
  if (stop == nullptr) {
    if (connect(handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return LastError();
    return 0;
  }
  SetNonBlockingMode(handle, true);
  int result = 0;
  if (connect(handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    result = LastError();
    if (ConnectPending(result)) {
      result = 0;
      for (;;) {
        if (stop->load()) {
          result = kWsaEintr;
          break;
        }
        // A connect in progress turns writable when it is through or has failed.
        int rc = WaitWritable(handle, kConnectStopPollMs);
        if (rc < 0) {
          result = LastError();
          break;
        }
        if (rc > 0) {
          int soError = 0;
#ifdef _WIN32
          int len = sizeof soError;
          getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
#else
          socklen_t len = sizeof soError;
          getsockopt(handle, SOL_SOCKET, SO_ERROR, &soError, &len);
          soError = soError ? MapErrno(soError) : 0;
#endif
          result = soError;
          break;
        }
      }
    }
  }
  SetNonBlockingMode(handle, false);
  return result;
}

long Send(Handle handle, const char* data, std::size_t size) {
#ifdef _WIN32
  int chunk = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
  return send(static_cast<SOCKET>(handle), data, chunk, 0);
#else
  ssize_t n;
  do {
    n = send(handle, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
#endif
}

long Receive(Handle handle, char* data, std::size_t size) {
#ifdef _WIN32
  int chunk = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
  return recv(static_cast<SOCKET>(handle), data, chunk, 0);
#else
  ssize_t n;
  do {
    n = recv(handle, data, size, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
#endif
}

namespace {

// 1 when the socket is ready for reading (or writing), 0 when the time passed, -1 when the wait failed.
int WaitReady(Handle handle, int timeoutMs, bool writing) {
#ifdef _WIN32
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(static_cast<SOCKET>(handle), &ready);
  FD_SET(static_cast<SOCKET>(handle), &failed);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  // A connect that failed shows among the failed sockets, not the writable ones.
  int rc = writing ? select(0, nullptr, &ready, &failed, timeoutMs < 0 ? nullptr : &tv)
                   : select(0, &ready, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
  return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
#else
  pollfd p{handle, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
  int rc = poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  return rc > 0 ? 1 : 0;
#endif
}

}  // namespace

int WaitReadable(Handle handle, int timeoutMs) { return WaitReady(handle, timeoutMs, false); }

int WaitWritable(Handle handle, int timeoutMs) { return WaitReady(handle, timeoutMs, true); }

void SetNonBlocking(Handle handle) { SetNonBlockingMode(handle, true); }

void ShutdownSend(Handle handle) {
#ifdef _WIN32
  shutdown(static_cast<SOCKET>(handle), SD_SEND);
#else
  shutdown(handle, SHUT_WR);
#endif
}

void Close(Handle handle) {
#ifdef _WIN32
  closesocket(static_cast<SOCKET>(handle));
#else
  close(handle);
#endif
}

void CloseWithReset(Handle handle) {
  linger lg{};
  lg.l_onoff = 1;
  lg.l_linger = 0;
  setsockopt(handle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
  Close(handle);
}

int MapLookupFailure(int lookupResult, int systemError) {
#ifdef _WIN32
  (void)systemError;
  return lookupResult != 0 ? lookupResult : kWsaHostNotFound;
#else
  // A resolver that cannot be reached is, to the user, a host that cannot be found, as on Windows. A system failure
  // without an error number must not come out as 0, which every caller reads as a success.
  if (lookupResult == EAI_SYSTEM && systemError != 0) return MapErrno(systemError);
  return kWsaHostNotFound;
#endif
}

int Resolve(const std::string& host, std::uint32_t& address) {
  EnsureStarted();
#ifdef _WIN32
  // Windows looks up an empty name as this machine's own addresses, so a URL without a host would reach a local
  // server; like every other resolver, it is a host that cannot be found.
  if (host.empty()) return kWsaHostNotFound;
#endif
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
#ifndef _WIN32
  errno = 0;
#endif
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
#ifdef _WIN32
    return MapLookupFailure(rc, 0);
#else
    return MapLookupFailure(rc, errno);
#endif
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return 0;
}

Handle ListenLoopback(int backlog) {
  Handle h = CreateTcp();
  if (h == kInvalidHandle) return h;
  sockaddr_in sa = MakeAddress(htonl(INADDR_LOOPBACK), 0);
  if (bind(h, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || listen(h, backlog) != 0) {
    Close(h);
    return kInvalidHandle;
  }
  return h;
}

int LocalPort(Handle handle) {
  sockaddr_in sa{};
#ifdef _WIN32
  int len = sizeof sa;
#else
  socklen_t len = sizeof sa;
#endif
  if (getsockname(handle, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
  return ntohs(sa.sin_port);
}

Handle Accept(Handle listener) {
#ifdef _WIN32
  return static_cast<Handle>(accept(static_cast<SOCKET>(listener), nullptr, nullptr));
#else
  Handle h;
  do {
    h = accept(listener, nullptr, nullptr);
  } while (h < 0 && errno == EINTR);
  return h;
#endif
}

void SetNoDelay(Handle handle) {
  int on = 1;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void SetSendTimeout(Handle handle, int timeoutMs) {
#ifdef _WIN32
  const DWORD limit = static_cast<DWORD>(timeoutMs);
#else
  const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
#endif
  setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

}  // namespace net::sock
