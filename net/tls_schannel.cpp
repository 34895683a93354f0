#include "net/tls_channel.h"

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
// SCH_CREDENTIALS (TLS 1.3) and the chain's URL retrieval limit come with these.
#define SCHANNEL_USE_BLACKLISTS
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "net/background_wait.h"
#include "net/http_error.h"
#include "net/socket_errors.h"

// Windows' own TLS (Schannel): no library to ship, and it trusts exactly what Windows trusts, the roots a company or
// school installs for its own inspection included. The certificate is checked here, not by Schannel, so each failure
// can be named; revocation is asked for but a list or responder that cannot be reached fails nothing, as in a browser.
namespace net {
namespace {

constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_MANUAL_CRED_VALIDATION;
// A TLS record with its header and trailer: what one receive asks for.
constexpr std::size_t kReceiveChunk = 16 * 1024 + 512;
// How long a revocation list or responder may take, over all of a chain: on a network that blocks them the check
// gives up and the handshake goes on. The wait itself serves the window, so this bounds the user's wait only.
constexpr DWORD kRevocationLimitMs = 10000;
constexpr int kVerifyLimitMs = 15000;
// Unknown to older headers: a protocol Windows 11 speaks through SCH_CREDENTIALS only.
constexpr DWORD kTls13Client = 0x00002000;
constexpr DWORD kTls12Client = 0x00000800;
constexpr DWORD kIgnoreUnknownAuthority = 0x00000100;  // SECURITY_FLAG_IGNORE_UNKNOWN_CA
constexpr DWORD kIgnoreRevocation = 0x00000080;       // SECURITY_FLAG_IGNORE_REVOCATION
constexpr DWORD kIgnoreNameMismatch = 0x00001000;     // SECURITY_FLAG_IGNORE_CERT_CN_INVALID


std::mutex g_trustMutex;
HCERTSTORE g_extraAuthorities = nullptr;

std::string Hex(long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// Schannel's refusals that mean the server speaks no TLS Windows accepts here (a plain server, TLS 1.0 alone).
bool MeansNoTls(SECURITY_STATUS status) {
  return status == SEC_E_ILLEGAL_MESSAGE || status == SEC_E_ALGORITHM_MISMATCH ||
         status == SEC_E_UNSUPPORTED_FUNCTION || status == SEC_E_INVALID_TOKEN || status == SEC_E_DECRYPT_FAILURE ||
         status == SEC_E_MESSAGE_ALTERED;
}

// Credentials for TLS 1.2 and 1.3: SCH_CREDENTIALS where Windows knows it (1.3 needs it), else the older form.
bool AcquireCredentials(CredHandle& credentials) {
  TimeStamp expiry{};
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = ~(kTls12Client | kTls13Client) & SP_PROT_CLIENTS;
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  wchar_t package[] = UNISP_NAME_W;
  if (AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr, nullptr,
                                &credentials, &expiry) == SEC_E_OK) {
    return true;
  }
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.grbitEnabledProtocols = kTls12Client;
  older.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  return AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr, nullptr,
                                   &credentials, &expiry) == SEC_E_OK;
}

// Whether host is an address (IPv4 or IPv6) that the certificate's subjectAltName lists.
bool CertificateNamesAddress(PCCERT_CONTEXT leaf, const std::wstring& host) {
  unsigned char wanted[16] = {};
  std::size_t wantedSize = 0;
  sockaddr_storage address{};
  int addressSize = sizeof address;
  std::wstring text = host;
  if (WSAStringToAddressW(text.data(), AF_INET, nullptr, reinterpret_cast<sockaddr*>(&address), &addressSize) == 0) {
    std::memcpy(wanted, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, 4);
    wantedSize = 4;
  } else {
    addressSize = sizeof address;
    if (WSAStringToAddressW(text.data(), AF_INET6, nullptr, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0) {
      return false;
    }
    std::memcpy(wanted, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, 16);
    wantedSize = 16;
  }
  PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, leaf->pCertInfo->cExtension,
                                                leaf->pCertInfo->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == wantedSize &&
            std::memcmp(entry.IPAddress.pbData, wanted, wantedSize) == 0;
  }
  LocalFree(names);
  return found;
}

// What a certificate check found; failure 0: the certificate is good for the host.
struct Verdict {
  int failure = 0;
  std::string detail;
};

// The chain policy's answer for the leaf, the chain built with the server's own intermediates and any extra
// authorities beside the system's stores.
Verdict VerifyCertificate(PCCERT_CONTEXT leaf, const std::wstring& host) {
  HCERTSTORE extra = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_trustMutex);
    if (g_extraAuthorities != nullptr) extra = CertDuplicateStore(g_extraAuthorities);
  }
  HCERTSTORE more = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  if (more != nullptr) {
    if (leaf->hCertStore != nullptr) CertAddStoreToCollection(more, leaf->hCertStore, 0, 0);
    if (extra != nullptr) CertAddStoreToCollection(more, extra, 0, 0);
  }
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.dwUrlRetrievalTimeout = kRevocationLimitMs;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  const DWORD chainFlags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
  Verdict verdict;
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, more, &chainPara, chainFlags, nullptr, &chain)) {
    verdict = {static_cast<int>(TlsFailure::Untrusted), "no chain: " + Hex(static_cast<long>(GetLastError()))};
  } else {
    std::wstring name = host;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    // Best effort: a revocation list nobody can reach fails nothing; a certificate listed as revoked still does.
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policy.pvExtraPolicyPara = &ssl;
    // The policy names one failure at a time; the two it may pass over are passed over and the chain checked again,
    // so the host and the dates are always judged.
    DWORD error = 0;
    for (int pass = 0; pass < 3; ++pass) {
      CERT_CHAIN_POLICY_STATUS status{};
      status.cbSize = sizeof status;
      CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
      error = status.dwError;
      // Best effort: a revocation list or responder that cannot be reached, or a certificate that names none, fails
      // nothing (a listed revocation, CRYPT_E_REVOKED, still does).
      const bool revocationUnknown = error == static_cast<DWORD>(CERT_E_REVOCATION_FAILURE) ||
                                     error == static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE) ||
                                     error == static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK);
      if (revocationUnknown && (ssl.fdwChecks & kIgnoreRevocation) == 0) {
        ssl.fdwChecks |= kIgnoreRevocation;
        continue;
      }
      // An extra authority (the demo build's) is no root of the system's: its chains end at an unknown root, which
      // is accepted when that root is the extra authority itself.
      if (error == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) && (ssl.fdwChecks & kIgnoreUnknownAuthority) == 0 &&
          extra != nullptr && chain->cChain > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        PCCERT_CONTEXT known =
            CertFindCertificateInStore(extra, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
        if (known != nullptr) {
          CertFreeCertificateContext(known);
          ssl.fdwChecks |= kIgnoreUnknownAuthority;
          continue;
        }
      }
      break;
    }
    // Some implementations (Wine's) match only names: an address is matched here against the certificate's addresses.
    if (error == static_cast<DWORD>(CERT_E_CN_NO_MATCH) && CertificateNamesAddress(leaf, host)) {
      ssl.fdwChecks |= kIgnoreNameMismatch;
      CERT_CHAIN_POLICY_STATUS again{};
      again.cbSize = sizeof again;
      CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &again);
      error = again.dwError;
    }
    // Wine's policy passes a chain that stops short of a root, its issuer nowhere to be found, which Windows fails
    // as CERT_E_CHAINING: a certificate signed by an authority nobody has would be believed.
    if (error == 0 && (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) != 0) {
      error = static_cast<DWORD>(CERT_E_CHAINING);
    }
    // A certificate out of its dates says so whatever else the policy found first (under load Wine's names a
    // revocation check that timed out): the date is what the user can mend, often at the computer's own clock.
    const LONG when = CertVerifyTimeValidity(nullptr, leaf->pCertInfo);
    if (error == 0) {
      verdict = {};
    } else if (error == static_cast<DWORD>(CERT_E_EXPIRED) || when != 0) {
      verdict = {static_cast<int>(when < 0 ? TlsFailure::NotYetValid : TlsFailure::Expired), {}};
    } else if (error == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
      verdict = {static_cast<int>(TlsFailure::OtherHost), {}};
    } else {
      verdict = {static_cast<int>(TlsFailure::Untrusted), Hex(static_cast<long>(error))};
    }
    CertFreeCertificateChain(chain);
  }
  if (more != nullptr) CertCloseStore(more, 0);
  if (extra != nullptr) CertCloseStore(extra, 0);
  return verdict;
}

class SchannelChannel : public TlsChannel {
 public:
  SchannelChannel(sock::Handle socket, const std::string& host, TlsCheck check)
      : m_socket(socket), m_host(host), m_wideHost(Wide(host)), m_check(check) {
    if (!AcquireCredentials(m_credentials)) ThrowTlsFailure(TlsFailure::Failed, "no TLS credentials");
    m_haveCredentials = true;
  }

  ~SchannelChannel() override {
    if (m_handshaken) SayGoodbye();
    if (m_haveContext) DeleteSecurityContext(&m_context);
    if (m_haveCredentials) FreeCredentialsHandle(&m_credentials);
  }

  SchannelChannel(const SchannelChannel&) = delete;
  SchannelChannel& operator=(const SchannelChannel&) = delete;

  bool Handshake(ChannelWait& wait) override {
    for (;;) {
      if (!m_out.empty()) {
        int error = 0;
        if (!Flush(wait, error)) {
          if (error != 0) ThrowSocket(error);
          return false;
        }
      }
      if (m_handshaken) return true;
      if (m_needInput) {
        const long got = ReadSocket(wait);
        if (got == kWouldWait) return false;
        if (got == 0) ThrowTlsFailure(TlsFailure::NoTls, "the connection closed during the handshake");
      }
      Step();
    }
  }

  std::string Protocol() const override { return m_protocol; }

  long Receive(char* data, std::size_t size, ChannelWait& wait, int& socketError) override {
    for (;;) {
      if (!m_out.empty() && !Flush(wait, socketError)) return socketError != 0 ? -1 : kWouldWait;
      if (m_plainTaken < m_plain.size()) {
        const std::size_t count = std::min(size, m_plain.size() - m_plainTaken);
        std::memcpy(data, m_plain.data() + m_plainTaken, count);
        m_plainTaken += count;
        if (m_plainTaken == m_plain.size()) {
          m_plain.clear();
          m_plainTaken = 0;
        }
        return static_cast<long>(count);
      }
      if (m_closed) return 0;
      if (!m_in.empty() && m_inMayDecrypt) {
        Decrypt();
        continue;
      }
      const long got = ReadSocket(wait, &socketError);
      if (got == kWouldWait || got < 0) return got;
      // The peer closed; a record cut short is a broken transfer, which the HTTP framing will notice.
      if (got == 0) return 0;
    }
  }

  long Send(const char* data, std::size_t size, ChannelWait& wait, int& socketError) override {
    // Bytes taken by an earlier call are reported once their record has left; until then the caller waits.
    if (!m_out.empty()) {
      if (!Flush(wait, socketError)) return socketError != 0 ? -1 : kWouldWait;
      const std::size_t taken = m_taken;
      m_taken = 0;
      if (taken > 0) return static_cast<long>(taken);
    }
    const std::size_t count = std::min<std::size_t>(size, m_sizes.cbMaximumMessage);
    std::vector<char> record(m_sizes.cbHeader + count + m_sizes.cbTrailer);
    std::memcpy(record.data() + m_sizes.cbHeader, data, count);
    SecBuffer buffers[4] = {
        {m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {static_cast<unsigned long>(count), SECBUFFER_DATA, record.data() + m_sizes.cbHeader},
        {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + m_sizes.cbHeader + count},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = EncryptMessage(&m_context, 0, &description, 0);
    if (status != SEC_E_OK) ThrowTlsFailure(TlsFailure::Failed, "EncryptMessage " + Hex(status));
    m_out.append(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    if (!Flush(wait, socketError)) {
      if (socketError != 0) return -1;
      m_taken = count;
      return kWouldWait;
    }
    return static_cast<long>(count);
  }

  bool HasBuffered() const override {
    return m_plainTaken < m_plain.size() || m_closed || (!m_in.empty() && m_inMayDecrypt);
  }

  bool IdleConnectionSpoilt() override {
    // A TLS 1.3 server's session tickets make the socket readable and decrypt to nothing.
    char byte = 0;
    ChannelWait wait = ChannelWait::Readable;
    int error = 0;
    return Receive(&byte, 1, wait, error) != kWouldWait;
  }

 private:
  [[noreturn]] void ThrowSocket(int error) {
    throw HttpClientError(ErrorKind::SocketError, SocketErrorMessage(error), error);
  }

  // True when every pending byte left; false with wait set (error 0) or with error set.
  bool Flush(ChannelWait& wait, int& error) {
    while (!m_out.empty()) {
      const long sent = sock::Send(m_socket, m_out.data(), m_out.size());
      if (sent < 0) {
        error = sock::LastError();
        if (error != sock::kWsaEwouldblock) return false;
        error = 0;
        wait = ChannelWait::Writable;
        return false;
      }
      m_out.erase(0, static_cast<std::size_t>(sent));
    }
    return true;
  }

  // Bytes read onto m_in (> 0), 0 for the peer's close, kWouldWait (wait set), or -1 (error set).
  long ReadSocket(ChannelWait& wait, int* error = nullptr) {
    char chunk[kReceiveChunk];
    const long got = sock::Receive(m_socket, chunk, sizeof chunk);
    if (got > 0) {
      m_in.append(chunk, static_cast<std::size_t>(got));
      m_inMayDecrypt = true;
      m_needInput = false;
      return got;
    }
    if (got == 0) return 0;
    const int code = sock::LastError();
    if (code == sock::kWsaEwouldblock) {
      wait = ChannelWait::Readable;
      return kWouldWait;
    }
    if (error == nullptr) ThrowSocket(code);
    *error = code;
    return -1;
  }

  // One InitializeSecurityContext with what m_in holds (nothing on the first call, which names the host): its token
  // goes to m_out, and what it did not consume stays in m_in.
  SECURITY_STATUS Continue() {
    SecBuffer input[2] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_TOKEN, m_in.empty() ? nullptr : m_in.data()},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDescription{SECBUFFER_VERSION, 2, input};
    SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, output};
    unsigned long attributes = 0;
    TimeStamp expiry{};
    const SECURITY_STATUS status = InitializeSecurityContextW(
        &m_credentials, m_haveContext ? &m_context : nullptr, m_haveContext ? nullptr : m_wideHost.data(),
        kContextRequest, 0, 0, m_haveContext ? &inputDescription : nullptr, 0, &m_context, &outputDescription,
        &attributes, &expiry);
    m_haveContext = true;
    if (output[0].pvBuffer != nullptr) {
      m_out.append(static_cast<const char*>(output[0].pvBuffer), output[0].cbBuffer);
      FreeContextBuffer(output[0].pvBuffer);
    }
    if (status != SEC_E_INCOMPLETE_MESSAGE) KeepExtra(input[1]);
    return status;
  }

  void Step() {
    const SECURITY_STATUS status = Continue();
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      m_needInput = true;
      return;
    }
    if (status == SEC_I_CONTINUE_NEEDED) {
      m_needInput = m_in.empty();
      return;
    }
    if (status == SEC_E_OK) {
      Finish();
      return;
    }
    if (MeansNoTls(status)) ThrowTlsFailure(TlsFailure::NoTls, Hex(status));
    ThrowTlsFailure(TlsFailure::Failed, "InitializeSecurityContext " + Hex(status));
  }

  // What Schannel did not consume (the start of the next record) stays; the rest of m_in is spent.
  void KeepExtra(const SecBuffer& extra) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= m_in.size()) {
      m_in.erase(0, m_in.size() - extra.cbBuffer);
    } else {
      m_in.clear();
    }
    m_inMayDecrypt = !m_in.empty();
  }

  void Finish() {
    QueryContextAttributesW(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes);
    // Whatever the credentials asked for, a version below 1.2 is never spoken (Wine's Schannel agrees to TLS 1.0).
    SecPkgContext_ConnectionInfo info{};
    const bool known = QueryContextAttributesW(&m_context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK;
    if (!known || (info.dwProtocol & (kTls12Client | kTls13Client)) == 0) {
      ThrowTlsFailure(TlsFailure::NoTls, "it offers only an older version");
    }
    m_protocol = (info.dwProtocol & kTls13Client) != 0 ? "TLSv1.3" : "TLSv1.2";
    if (m_check == TlsCheck::Certificate) Verify();
    m_handshaken = true;
  }

  void Verify() {
    PCCERT_CONTEXT leaf = nullptr;
    if (QueryContextAttributesW(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &leaf) != SEC_E_OK || leaf == nullptr) {
      ThrowTlsFailure(TlsFailure::Untrusted, "the server showed no certificate");
    }
    // Building the chain may fetch intermediates and revocation lists: off the UI thread, the window served.
    struct Job {
      Job(PCCERT_CONTEXT certificate, std::wstring name) : leaf(certificate), host(std::move(name)) {}
      ~Job() { CertFreeCertificateContext(leaf); }
      Job(const Job&) = delete;
      Job& operator=(const Job&) = delete;
      PCCERT_CONTEXT leaf;
      std::wstring host;
      Verdict verdict;
    };
    auto job = std::make_shared<Job>(leaf, m_wideHost);
    const bool done = WaitOnBackgroundThread([job] { job->verdict = VerifyCertificate(job->leaf, job->host); },
                                             kVerifyLimitMs, {});
    if (!done) ThrowTlsFailure(TlsFailure::Failed, "the certificate check did not finish");
    switch (static_cast<TlsFailure>(job->verdict.failure)) {
      case TlsFailure::OtherHost: ThrowTlsFailure(TlsFailure::OtherHost, {}, m_host);
      case TlsFailure::Expired: ThrowTlsFailure(TlsFailure::Expired);
      case TlsFailure::NotYetValid: ThrowTlsFailure(TlsFailure::NotYetValid);
      case TlsFailure::Untrusted: ThrowTlsFailure(TlsFailure::Untrusted, job->verdict.detail);
      default: break;
    }
  }

  void Decrypt() {
    SecBuffer buffers[4] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_DATA, m_in.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&m_context, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      m_inMayDecrypt = false;
      return;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      ThrowTlsFailure(TlsFailure::Failed, "DecryptMessage " + Hex(status));
    }
    std::string extra;
    std::size_t plain = 0;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA) plain += buffer.cbBuffer;
      if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
        m_plain.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      } else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0) {
        extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      }
    }
    m_in = extra;
    m_inMayDecrypt = !m_in.empty();
    // Wine's Schannel reports the peer's close_notify as a record of no data; Windows' as SEC_I_CONTEXT_EXPIRED. No
    // server of HTTP sends an empty record of data.
    if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && plain == 0)) {
      m_closed = true;
    } else if (status == SEC_I_RENEGOTIATE) {
      // TLS 1.3's messages after the handshake (session tickets, a key update) go back to the handshake routine.
      AfterHandshakeMessage();
    }
  }

  void AfterHandshakeMessage() {
    const SECURITY_STATUS status = Continue();
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) {
      ThrowTlsFailure(TlsFailure::Failed, "after the handshake " + Hex(status));
    }
  }

  // close_notify, sent if the socket takes it at once; the peer's answer is not waited for.
  void SayGoodbye() {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
    SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, control};
    if (ApplyControlToken(&m_context, &controlDescription) != SEC_E_OK) return;
    SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, output};
    unsigned long attributes = 0;
    TimeStamp expiry{};
    InitializeSecurityContextW(&m_credentials, &m_context, nullptr, kContextRequest, 0, 0, nullptr, 0, &m_context,
                               &outputDescription, &attributes, &expiry);
    if (output[0].pvBuffer != nullptr) {
      sock::Send(m_socket, static_cast<const char*>(output[0].pvBuffer), output[0].cbBuffer);
      FreeContextBuffer(output[0].pvBuffer);
    }
  }

  sock::Handle m_socket;
  std::string m_host;
  std::wstring m_wideHost;
  TlsCheck m_check;
  CredHandle m_credentials{};
  CtxtHandle m_context{};
  bool m_haveCredentials = false;
  bool m_haveContext = false;
  bool m_handshaken = false;
  bool m_needInput = false;
  bool m_inMayDecrypt = false;
  bool m_closed = false;
  SecPkgContext_StreamSizes m_sizes{};
  std::string m_protocol;
  std::string m_in;     // bytes off the socket not yet decrypted
  std::string m_plain;  // decrypted bytes not yet handed out, from m_plainTaken on
  std::size_t m_plainTaken = 0;
  std::string m_out;    // bytes for the socket that did not leave yet
  std::size_t m_taken = 0;  // caller's bytes in m_out, reported when they have left
};

}  // namespace

std::unique_ptr<TlsChannel> MakeTlsChannel(sock::Handle socket, const std::string& host, TlsCheck check) {
  return std::make_unique<SchannelChannel>(socket, host, check);
}

void SetExtraTrustedAuthorities(const std::string& pemFile) {
  std::lock_guard<std::mutex> lock(g_trustMutex);
  if (g_extraAuthorities == nullptr) {
    g_extraAuthorities = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  }
  if (g_extraAuthorities == nullptr || pemFile.empty()) return;
  std::ifstream file(pemFile, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const std::string pem = text.str();
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  for (std::size_t start = pem.find("-----BEGIN CERTIFICATE-----"); start != std::string::npos;
       start = pem.find("-----BEGIN CERTIFICATE-----", start + 1)) {
    const std::size_t end = pem.find(kEnd, start);
    if (end == std::string::npos) break;
    const std::string block = pem.substr(start, end + kEnd.size() - start);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                             &size, nullptr, nullptr)) {
      CertAddEncodedCertificateToStore(g_extraAuthorities, X509_ASN_ENCODING, der.data(), size,
                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    }
  }
}

}  // namespace net
