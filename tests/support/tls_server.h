#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

// Certificates a test makes with openssl, and openssl s_server serving files over TLS with one of them, on a free
// loopback port: the TLS servers our users meet, good and bad, without a byte of TLS written here.
//
//   testsupport::TestCertificates certificates;
//   if (std::string why = certificates.Make(); !why.empty()) GTEST_SKIP() << why;
//   net::SetExtraTrustedAuthorities(certificates.AuthorityFile());
//   testsupport::TlsServer server;
//   server.Start(certificates, TestCertificates::Kind::Good, {{"paper.pdf", bytes}});
//   client.GetText("https://localhost:" + std::to_string(server.Port()) + "/paper.pdf");
namespace testsupport {

class TestCertificates {
 public:
  enum class Kind {
    Good,         // for localhost, papers.vextal.test and 127.0.0.1, signed by the test authority
    OtherHost,    // signed by it, for other.example
    Expired,      // signed by it, valid in January 2020 only
    NotYetValid,  // signed by it, valid from 2098
    Untrusted,    // self-signed, for localhost: nobody vouches for it
    UnknownIssuer,  // for localhost, signed by an authority nobody has (a chain that stops short of any root)
  };
  // Makes the authority and one server certificate of each kind. Empty on success, otherwise why not.
  std::string Make();
  // The authority's certificate (PEM), for the client to trust, as this program opens it.
  std::string AuthorityFile() const;
  // A server's certificate and key, as the system's servers name them.
  std::string CertificateFile(Kind kind) const;
  std::string KeyFile(Kind kind) const;

 private:
  std::unique_ptr<ScratchDirectory> m_folder;
};

class TlsServer {
 public:
  struct File {
    std::string name;
    std::string bytes;
  };
  enum class Files {
    Bodies,   // a file is the body of its answer (s_server -WWW: an HTTP/1.0 head of its own, read to the close)
    Answers,  // a file is its whole answer, head and all (s_server -HTTP)
  };
  // Serves files for "GET /name" with the certificate of kind; extraArguments go to s_server as well ("-tls1", ...).
  // Empty on success, otherwise why not.
  std::string Start(const TestCertificates& certificates, TestCertificates::Kind kind, const std::vector<File>& files,
                    const std::vector<std::string>& extraArguments = {}, Files mode = Files::Bodies);
  void Stop();
  int Port() const { return m_port; }

 private:
  std::unique_ptr<ScratchDirectory> m_folder;
  ChildProcess m_process;
  int m_port = 0;
};

}  // namespace testsupport
