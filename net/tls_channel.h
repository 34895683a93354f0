#pragma once

#include <memory>
#include <string>

#include "net/channel.h"

// TLS over a connected socket. One backend per system, each in a file of its own behind this interface: OpenSSL
// (tls_openssl.cpp) where the system's TLS is OpenSSL, Windows' own TLS (tls_schannel.cpp) on Windows.
namespace net {

// Why a handshake failed, as the user is told: each is a different thing to do about it.
enum class TlsFailure {
  Untrusted = 1,     // a certificate no authority the system trusts vouches for
  OtherHost = 2,     // a good certificate, for another name
  Expired = 3,
  NotYetValid = 4,
  NoTls = 5,         // the server speaks no TLS on this port, or only versions older than 1.2
  Failed = 6,        // anything else the TLS library reports
};

class TlsChannel : public Channel {
 public:
  // Drives the handshake on: true when it is through, false with wait set when it waits for the socket. A failure
  // throws HttpClientError of kind TlsFailed, its code a TlsFailure.
  virtual bool Handshake(ChannelWait& wait) = 0;
  // The protocol agreed ("TLSv1.3"), for tools and tests.
  virtual std::string Protocol() const = 0;
};

enum class TlsCheck {
  Certificate,  // the certificate checked for the host against what the system trusts: every request
  None,         // nothing checked, only to read what the server's clock says after a certificate failed on dates
};

// TLS 1.2 or 1.3 to host over the socket (which stays the caller's), with SNI, checked as asked.
std::unique_ptr<TlsChannel> MakeTlsChannel(sock::Handle socket, const std::string& host,
                                           TlsCheck check = TlsCheck::Certificate);

// Throws the failure as HttpClientError of kind TlsFailed, its code the failure; detail is what the TLS library said,
// host the name asked for (the body of an OtherHost failure). Both backends speak through this one.
[[noreturn]] void ThrowTlsFailure(TlsFailure failure, const std::string& detail = {}, const std::string& host = {});

// A further authority's certificates (a PEM file) every later TLS channel trusts beside the system's; empty: none.
void SetExtraTrustedAuthorities(const std::string& pemFile);

}  // namespace net
