#include "tests/support/tls_server.h"

namespace testsupport {
namespace {

constexpr const char* kOpenSsl = "/usr/bin/openssl";

const char* NameOf(TestCertificates::Kind kind) {
  switch (kind) {
    case TestCertificates::Kind::Good: return "good";
    case TestCertificates::Kind::OtherHost: return "other-host";
    case TestCertificates::Kind::Expired: return "expired";
    case TestCertificates::Kind::NotYetValid: return "not-yet-valid";
    case TestCertificates::Kind::Untrusted: return "untrusted";
    case TestCertificates::Kind::UnknownIssuer: return "unknown-issuer";
  }
  return "unknown";
}

// P-256 keys for the servers: made in milliseconds, where RSA would cost the test run seconds.
constexpr const char* kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
// RSA for whatever signs a certificate, the self-signed ones included. Wine's chain check refuses an ECDSA signature
// whose r or s is a byte short (about one signature in 128) as not verifiable, so an EC authority would fail a
// test now and then under Wine; an RSA signature always has the key's length.
constexpr const char* kNewSigningKey = "-newkey rsa:2048 -nodes";

// `openssl ca` alone sets any validity dates on the certificates it signs.
std::string AuthorityConfig(const std::string& folder) {
  return "[ca]\ndefault_ca = test\n[test]\ndir = " + folder + "\ndatabase = " + folder + "/index.txt\nnew_certs_dir = " +
         folder + "\nserial = " + folder + "/serial\ndefault_md = sha256\npolicy = any\ncopy_extensions = copy\n"
         "unique_subject = no\n[any]\ncommonName = supplied\n";
}

struct Signed {
  TestCertificates::Kind kind;
  const char* names;  // subjectAltName
  const char* start;
  const char* end;
};

}  // namespace

std::string TestCertificates::Make() {
  m_folder = std::make_unique<ScratchDirectory>();
  const std::string& folder = m_folder->Path();
  if (folder.empty()) return "no folder for the certificates";
  m_folder->Write("index.txt", "");
  m_folder->Write("serial", "1000\n");
  const std::string config = m_folder->Write("ca.cnf", AuthorityConfig(folder));
  const std::string quoted = "'" + folder + "/";
  if (!RunCommand(std::string(kOpenSsl) + " req -x509 " + kNewSigningKey +
                  " -days 3650 -subj '/CN=Vextal Test Authority' -keyout " + quoted + "ca.key' -out " + quoted +
                  "ca.pem'")) {
    return "openssl could not make the test authority";
  }
  const Signed signedKinds[] = {
      {Kind::Good, "DNS:localhost,DNS:papers.vextal.test,IP:127.0.0.1", "20200101000000Z", "20991231000000Z"},
      {Kind::OtherHost, "DNS:other.example", "20200101000000Z", "20991231000000Z"},
      {Kind::Expired, "DNS:localhost,IP:127.0.0.1", "20200101000000Z", "20200201000000Z"},
      {Kind::NotYetValid, "DNS:localhost,IP:127.0.0.1", "20980101000000Z", "20991231000000Z"},
  };
  for (const Signed& s : signedKinds) {
    const std::string name = NameOf(s.kind);
    if (!RunCommand(std::string(kOpenSsl) + " req -new " + kNewKey + " -subj '/CN=" + name + "' -addext 'subjectAltName=" +
                    s.names + "' -keyout " + quoted + name + ".key' -out " + quoted + name + ".csr'") ||
        !RunCommand(std::string(kOpenSsl) + " ca -batch -notext -config '" + config + "' -cert " + quoted +
                    "ca.pem' -keyfile " + quoted + "ca.key' -startdate " + s.start + " -enddate " + s.end + " -in " +
                    quoted + name + ".csr' -out " + quoted + name + ".pem'")) {
      return "openssl could not sign the " + name + " certificate";
    }
  }
  if (!RunCommand(std::string(kOpenSsl) + " req -x509 " + kNewSigningKey +
                  " -days 3650 -subj '/CN=localhost' -addext 'subjectAltName=DNS:localhost,IP:127.0.0.1' -keyout " +
                  quoted + "untrusted.key' -out " + quoted + "untrusted.pem'")) {
    return "openssl could not make the untrusted certificate";
  }
  m_folder->Write("unknown-issuer.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
  if (!RunCommand(std::string(kOpenSsl) + " req -x509 " + kNewSigningKey +
                  " -days 3650 -subj '/CN=Stranger Authority' -keyout " + quoted + "stranger.key' -out " + quoted +
                  "stranger.pem'") ||
      !RunCommand(std::string(kOpenSsl) + " req -new " + kNewKey + " -subj '/CN=localhost' -keyout " + quoted +
                  "unknown-issuer.key' -out " + quoted + "unknown-issuer.csr'") ||
      !RunCommand(std::string(kOpenSsl) + " x509 -req -days 3650 -in " + quoted + "unknown-issuer.csr' -CA " + quoted +
                  "stranger.pem' -CAkey " + quoted + "stranger.key' -set_serial 7 -extfile " + quoted +
                  "unknown-issuer.ext' -out " + quoted + "unknown-issuer.pem'")) {
    return "openssl could not make the certificate of an unknown authority";
  }
  return {};
}

std::string TestCertificates::AuthorityFile() const { return m_folder->LocalPath("ca.pem"); }
std::string TestCertificates::CertificateFile(Kind kind) const {
  return m_folder->Path() + "/" + NameOf(kind) + ".pem";
}
std::string TestCertificates::KeyFile(Kind kind) const { return m_folder->Path() + "/" + NameOf(kind) + ".key"; }

std::string TlsServer::Start(const TestCertificates& certificates, TestCertificates::Kind kind,
                             const std::vector<File>& files, const std::vector<std::string>& extraArguments,
                             Files mode) {
  m_folder = std::make_unique<ScratchDirectory>();
  if (m_folder->Path().empty()) return "no folder for the server";
  for (const File& file : files) m_folder->Write(file.name, file.bytes);
  m_port = FreeLoopbackPort();
  std::vector<std::string> words = {kOpenSsl, "s_server", "-quiet", "-accept", "127.0.0.1:" + std::to_string(m_port),
                                    "-cert", certificates.CertificateFile(kind), "-key", certificates.KeyFile(kind),
                                    mode == Files::Bodies ? "-WWW" : "-HTTP"};
  words.insert(words.end(), extraArguments.begin(), extraArguments.end());
  if (std::string why = m_process.Start(words, m_folder->Path()); !why.empty()) return why;
  if (std::string why = m_process.WaitUntilListening(m_port); !why.empty()) return "openssl s_server: " + why;
  return {};
}

void TlsServer::Stop() {
  m_process.Stop();
  m_folder.reset();
}

}  // namespace testsupport
