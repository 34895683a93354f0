#include "net/http_error.h"

#include <utility>

namespace net {

const char* ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::ProtocolError: return "ProtocolError";
    case ErrorKind::UndefinedSituation: return "UndefinedSituation";
    case ErrorKind::UnsupportedScheme: return "UnsupportedScheme";
    case ErrorKind::InvalidUrl: return "InvalidUrl";
    case ErrorKind::SocketError: return "SocketError";
    case ErrorKind::SocketSetupFailed: return "SocketSetupFailed";
    case ErrorKind::ConnectFailed: return "ConnectFailed";
    case ErrorKind::ConnectTimedOut: return "ConnectTimedOut";
    case ErrorKind::ConnectionClosedGracefully: return "ConnectionClosedGracefully";
    case ErrorKind::NotConnected: return "NotConnected";
    case ErrorKind::ReadTimedOut: return "ReadTimedOut";
    case ErrorKind::LineTooLong: return "LineTooLong";
    case ErrorKind::CookieValueError: return "CookieValueError";
    case ErrorKind::ClientBusy: return "ClientBusy";
    case ErrorKind::MalformedChunk: return "MalformedChunk";
    case ErrorKind::HeadTooLarge: return "HeadTooLarge";
    case ErrorKind::BodyTooLarge: return "BodyTooLarge";
    case ErrorKind::Cancelled: return "Cancelled";
    case ErrorKind::ProxyAuthUnsupported: return "ProxyAuthUnsupported";
    case ErrorKind::TlsFailed: return "TlsFailed";
  }
  return "Unknown";
}

HttpClientError::HttpClientError(ErrorKind kind, const std::string& message, int code, std::string body)
    : std::runtime_error(message), m_message(message), m_kind(kind), m_code(code), m_body(std::move(body)) {}

}  // namespace net
