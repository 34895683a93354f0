#include "tests/support/nginx_front.h"

#include <sstream>

namespace testsupport {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

}  // namespace

std::string NginxFront::Start(const TestCertificates& certificates, int backendPort) {
  m_folder = std::make_unique<ScratchDirectory>();
  const std::string& folder = m_folder->Path();
  if (folder.empty()) return "no folder for nginx";
  m_port = FreeLoopbackPort();
  std::ostringstream conf;
  // One process, so it ends with its process group; every file of its own in the test's folder.
  conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
       << "error_log " << folder << "/error.log;\npid " << folder << "/nginx.pid;\n"
       << "events { worker_connections 64; }\n"
       << "http {\n  access_log off;\n"
       << "  client_body_temp_path " << folder << ";\n  proxy_temp_path " << folder << ";\n"
       << "  fastcgi_temp_path " << folder << ";\n  uwsgi_temp_path " << folder << ";\n  scgi_temp_path " << folder
       << ";\n"
       << "  server {\n    listen 127.0.0.1:" << m_port << " ssl;\n"
       << "    ssl_protocols TLSv1.2 TLSv1.3;\n"
       << "    ssl_certificate " << certificates.CertificateFile(TestCertificates::Kind::Good) << ";\n"
       << "    ssl_certificate_key " << certificates.KeyFile(TestCertificates::Kind::Good) << ";\n"
       << "    location / {\n      proxy_pass http://127.0.0.1:" << backendPort << ";\n"
       << "      proxy_http_version 1.1;\n      proxy_set_header Connection \"\";\n"
       << "      proxy_set_header Host $http_host;\n      proxy_buffering off;\n    }\n  }\n}\n";
  const std::string configFile = m_folder->Write("nginx.conf", conf.str());
  if (std::string why = m_process.Start({kNginx, "-p", folder, "-c", configFile, "-e", folder + "/error.log"});
      !why.empty()) {
    return why;
  }
  if (std::string why = m_process.WaitUntilListening(m_port); !why.empty()) {
    return "nginx: " + why + " (its log: " + folder + "/error.log)";
  }
  return {};
}

void NginxFront::Stop() {
  m_process.Stop();
  m_folder.reset();
}

}  // namespace testsupport
