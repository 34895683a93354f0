#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/tls_server.h"

// nginx on a free loopback port, speaking TLS with a test certificate in front of a plain HTTP server of the test's
// (the demo server): an https:// origin for the road through the real windows, answered by a real TLS server.
namespace testsupport {

class NginxFront {
 public:
  // Empty on success, otherwise why not (no nginx here: the caller skips).
  std::string Start(const TestCertificates& certificates, int backendPort);
  void Stop();
  int Port() const { return m_port; }

 private:
  std::unique_ptr<ScratchDirectory> m_folder;
  ChildProcess m_process;
  int m_port = 0;
};

}  // namespace testsupport
