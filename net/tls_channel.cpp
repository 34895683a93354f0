#include "net/tls_channel.h"

#include "net/http_error.h"

namespace net {

void ThrowTlsFailure(TlsFailure failure, const std::string& detail, const std::string& host) {
  std::string message;
  switch (failure) {
    case TlsFailure::Untrusted: message = "The server's certificate is not trusted: " + detail; break;
    case TlsFailure::OtherHost: message = "The server's certificate is for another host: " + host; break;
    case TlsFailure::Expired: message = "The server's certificate has expired."; break;
    case TlsFailure::NotYetValid: message = "The server's certificate is not valid yet."; break;
    case TlsFailure::NoTls: message = "The server does not speak TLS 1.2 or 1.3: " + detail; break;
    case TlsFailure::Failed: message = "TLS failed: " + detail; break;
  }
  // The host rides in the body, for a window that names it in the user's words.
  throw HttpClientError(ErrorKind::TlsFailed, message, static_cast<int>(failure), host);
}

}  // namespace net
