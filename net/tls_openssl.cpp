#include "net/tls_channel.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <mutex>
#include <string>

#include "net/http_error.h"
#include "net/socket_errors.h"

namespace net {
namespace {


std::mutex g_trustMutex;
SSL_CTX* g_context = nullptr;
std::string g_extraTrust;

std::string QueuedErrorText() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return "no further detail";
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "error " + std::to_string(code);
}

// A context per process: the system's authorities are read once, as the handshake of every later channel needs them.
SSL_CTX* Context() {
  std::lock_guard<std::mutex> lock(g_trustMutex);
  if (g_context != nullptr) return g_context;
  g_context = SSL_CTX_new(TLS_client_method());
  if (g_context == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(g_context, TLS1_2_VERSION);
  // The system's bundle, or what SSL_CERT_FILE and SSL_CERT_DIR name instead, as every OpenSSL program reads them.
  SSL_CTX_set_default_verify_paths(g_context);
  SSL_CTX_set_verify(g_context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(g_context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Servers that close without close_notify after a body of known length are many; the HTTP framing, not the TLS
  // close, says whether a body is whole, as over plain TCP.
  SSL_CTX_set_options(g_context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (!g_extraTrust.empty()) SSL_CTX_load_verify_locations(g_context, g_extraTrust.c_str(), nullptr);
  return g_context;
}

bool IsIpLiteral(const std::string& host) {
  return !host.empty() && (host.find(':') != std::string::npos ||
                           host.find_first_not_of("0123456789.") == std::string::npos);
}

class OpenSslChannel : public TlsChannel {
 public:
  OpenSslChannel(sock::Handle socket, const std::string& host, TlsCheck check) : m_host(host) {
    SSL_CTX* context = Context();
    if (context == nullptr) ThrowTlsFailure(TlsFailure::Failed, QueuedErrorText());
    m_ssl = SSL_new(context);
    if (m_ssl == nullptr) ThrowTlsFailure(TlsFailure::Failed, QueuedErrorText());
    SSL_set_fd(m_ssl, static_cast<int>(socket));
    // SNI names a host, never an address.
    if (!IsIpLiteral(host)) SSL_set_tlsext_host_name(m_ssl, host.c_str());
    if (check == TlsCheck::None) {
      SSL_set_verify(m_ssl, SSL_VERIFY_NONE, nullptr);
      return;
    }
    X509_VERIFY_PARAM* verify = SSL_get0_param(m_ssl);
    if (IsIpLiteral(host)) {
      X509_VERIFY_PARAM_set1_ip_asc(verify, host.c_str());
    } else {
      X509_VERIFY_PARAM_set_hostflags(verify, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      X509_VERIFY_PARAM_set1_host(verify, host.c_str(), host.size());
    }
  }

  ~OpenSslChannel() override {
    if (m_ssl == nullptr) return;
    // One close_notify, sent if the socket takes it; the peer's answer is not waited for.
    if (m_handshaken) SSL_shutdown(m_ssl);
    SSL_free(m_ssl);
  }

  bool Handshake(ChannelWait& wait) override {
    ERR_clear_error();
    const int rc = SSL_connect(m_ssl);
    if (rc == 1) {
      m_handshaken = true;
      return true;
    }
    const int error = SSL_get_error(m_ssl, rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      wait = error == SSL_ERROR_WANT_READ ? ChannelWait::Readable : ChannelWait::Writable;
      return false;
    }
    FailHandshake(error);
  }

  std::string Protocol() const override { return SSL_get_version(m_ssl); }

  long Receive(char* data, std::size_t size, ChannelWait& wait, int& socketError) override {
    ERR_clear_error();
    std::size_t got = 0;
    if (SSL_read_ex(m_ssl, data, size, &got) == 1) return static_cast<long>(got);
    return Unfinished(SSL_get_error(m_ssl, 0), wait, socketError, true);
  }

  long Send(const char* data, std::size_t size, ChannelWait& wait, int& socketError) override {
    ERR_clear_error();
    std::size_t put = 0;
    if (SSL_write_ex(m_ssl, data, size, &put) == 1) return static_cast<long>(put);
    return Unfinished(SSL_get_error(m_ssl, 0), wait, socketError, false);
  }

  bool HasBuffered() const override { return SSL_pending(m_ssl) > 0; }

  bool IdleConnectionSpoilt() override {
    // A TLS 1.3 server sends its session tickets after the handshake; reading them yields no data and spoils nothing.
    ERR_clear_error();
    char byte = 0;
    std::size_t got = 0;
    if (SSL_peek_ex(m_ssl, &byte, 1, &got) == 1) return true;
    return SSL_get_error(m_ssl, 0) != SSL_ERROR_WANT_READ;
  }

 private:
  long Unfinished(int error, ChannelWait& wait, int& socketError, bool reading) {
    switch (error) {
      case SSL_ERROR_WANT_READ:
        wait = ChannelWait::Readable;
        return kWouldWait;
      case SSL_ERROR_WANT_WRITE:
        wait = ChannelWait::Writable;
        return kWouldWait;
      case SSL_ERROR_ZERO_RETURN:
        return 0;
      case SSL_ERROR_SYSCALL:
        socketError = sock::LastError();
        // No error number: the peer went away under a write (a read of that is a close, reported as ZERO_RETURN).
        if (socketError == 0 || socketError == sock::kWsaEwouldblock) {
          if (reading) return 0;
          socketError = sock::kWsaEconnaborted;
        }
        return -1;
      default:
        ThrowTlsFailure(TlsFailure::Failed, QueuedErrorText());
    }
  }

  [[noreturn]] void FailHandshake(int error) {
    const long verify = SSL_get_verify_result(m_ssl);
    if (verify != X509_V_OK) {
      const std::string detail = X509_verify_cert_error_string(verify);
      ERR_clear_error();
      switch (verify) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
          ThrowTlsFailure(TlsFailure::OtherHost, {}, m_host);
        case X509_V_ERR_CERT_HAS_EXPIRED:
          ThrowTlsFailure(TlsFailure::Expired);
        case X509_V_ERR_CERT_NOT_YET_VALID:
          ThrowTlsFailure(TlsFailure::NotYetValid);
        default:
          ThrowTlsFailure(TlsFailure::Untrusted, detail);
      }
    }
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
      // The peer closed or reset in the middle of the handshake: a broken link, as a reset of a plain request is.
      const int socketError = sock::LastError();
      if (socketError != 0 && socketError != sock::kWsaEwouldblock) {
        throw HttpClientError(ErrorKind::SocketError, SocketErrorMessage(socketError), socketError);
      }
      ThrowTlsFailure(TlsFailure::NoTls, "the connection closed during the handshake");
    }
    const unsigned long code = ERR_peek_last_error();
    const int reason = ERR_GET_REASON(code);
    const std::string detail = QueuedErrorText();
    if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_UNSUPPORTED_PROTOCOL ||
        reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION || reason == SSL_R_NO_PROTOCOLS_AVAILABLE ||
        reason == SSL_R_PACKET_LENGTH_TOO_LONG || reason == SSL_R_RECORD_LENGTH_MISMATCH) {
      ThrowTlsFailure(TlsFailure::NoTls, detail);
    }
    ThrowTlsFailure(TlsFailure::Failed, detail);
  }

  SSL* m_ssl = nullptr;
  std::string m_host;
  bool m_handshaken = false;
};

}  // namespace

std::unique_ptr<TlsChannel> MakeTlsChannel(sock::Handle socket, const std::string& host, TlsCheck check) {
  return std::make_unique<OpenSslChannel>(socket, host, check);
}

void SetExtraTrustedAuthorities(const std::string& pemFile) {
  std::lock_guard<std::mutex> lock(g_trustMutex);
  g_extraTrust = pemFile;
  // Added to a context already made, too: a store only grows, which is all the demo build and the tests ask of it.
  if (g_context != nullptr && !pemFile.empty()) SSL_CTX_load_verify_locations(g_context, pemFile.c_str(), nullptr);
}

}  // namespace net
