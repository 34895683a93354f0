#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace net {

// Every failure of an HTTP operation carries one of these kinds; the application shows Message() to the user.
enum class ErrorKind {
  ProtocolError,               // status not 2xx, or a redirect (which is never followed)
  UndefinedSituation,          // a 2xx head arrived but the connection is gone before its body
  UnsupportedScheme,           // "https", or an unknown scheme without an explicit port
  InvalidUrl,                  // a port text that is not a port number
  SocketError,                 // a socket call failed on the calling thread; Code() is the socket error number
  SocketSetupFailed,           // no socket, or its address is in use
  ConnectFailed,               // the connect failed; Code() is the socket error number
  ConnectTimedOut,             // the connect did not finish within its limit
  ConnectionClosedGracefully,  // the peer closed before the bytes needed arrived
  NotConnected,                // read or send after the connection was released
  ReadTimedOut,                // a wait with a limit ended without data
  LineTooLong,                 // a status, header or chunk-size line is longer than the line limit
  CookieValueError,            // a Set-cookie2 PORT list holds a non-integer
  ClientBusy,                  // the client was used again while one of its own gets runs
  MalformedChunk,              // a chunk-size line that is not a hexadecimal number
  HeadTooLarge,                // a response head beyond kMaxResponseHeadBytes or kMaxResponseHeadLines
  BodyTooLarge,                // a body read into memory beyond the caller's cap
  Cancelled,                   // the caller cancelled the get while it waited
  ProxyAuthUnsupported,        // the proxy asks for a login scheme this client does not speak (NTLM, Negotiate)
  TlsFailed,                   // the TLS handshake or a record failed; Code() is a TlsFailure
};

// The kind's name as written in ErrorKind ("ProtocolError", ...).
const char* ErrorKindName(ErrorKind kind);

class HttpClientError : public std::runtime_error {
 public:
  HttpClientError(ErrorKind kind, const std::string& message, int code = 0, std::string body = {});

  ErrorKind Kind() const { return m_kind; }
  // The status code for ProtocolError, the socket error number for SocketError and ConnectFailed, the TlsFailure for
  // TlsFailed, otherwise 0.
  int Code() const { return m_code; }
  // The body that came with an error or redirect response; for ProxyAuthUnsupported, the schemes the proxy asked for.
  const std::string& Body() const { return m_body; }
  // The text the user sees (bytes of the system code page), whole: a status line may hold a NUL byte, where what()
  // ends.
  const std::string& Message() const { return m_message; }
  // "host:port" of the proxy the get went through; empty for a get that went to the server itself.
  const std::string& ProxyName() const { return m_proxyName; }
  void SetProxyName(std::string name) { m_proxyName = std::move(name); }
  // For a certificate that failed on its dates: what the server's clock said (Unix seconds), when it could be asked.
  const std::optional<std::int64_t>& ServerClock() const { return m_serverClock; }
  void SetServerClock(std::int64_t seconds) { m_serverClock = seconds; }

 private:
  std::string m_message;
  ErrorKind m_kind;
  int m_code;
  std::string m_body;
  std::string m_proxyName;
  std::optional<std::int64_t> m_serverClock;
};

}  // namespace net
