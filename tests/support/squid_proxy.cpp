#include "tests/support/squid_proxy.h"

#include <sstream>

namespace testsupport {
namespace {

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr const char* kBasicHelper = "/usr/lib/squid/basic_ncsa_auth";

}  // namespace

std::string SquidProxy::Name() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string SquidProxy::Start(const Options& options) {
  m_folder = std::make_unique<ScratchDirectory>();
  const std::string& folder = m_folder->Path();
  if (folder.empty()) return "no folder for squid";
  m_port = FreeLoopbackPort();
  // The hosts file stands in for the system's, which names localhost.
  std::ostringstream hosts;
  hosts << "127.0.0.1 localhost\n";
  for (const auto& [name, address] : options.hosts) hosts << address << ' ' << name << '\n';
  m_folder->Write("hosts", hosts.str());
  std::ostringstream conf;
  conf << "http_port 127.0.0.1:" << m_port << "\n"
       << "visible_hostname vextal-test-proxy\n"
       << "pid_filename " << folder << "/squid.pid\n"
       << "cache_log " << folder << "/cache.log\n"
       << "access_log none\ncache_store_log none\ncache deny all\npinger_enable off\n"
       << "hosts_file " << folder << "/hosts\n"
       << "shutdown_lifetime 0 seconds\ncoredump_dir " << folder << "\n"
       << "cache_effective_user proxy\n";
  if (options.login) {
    // The MD5-crypt form basic_ncsa_auth reads, made by openssl: no password hashing is written here.
    std::string crypted;
    if (!RunCommand("openssl passwd -1 '" + options.login->second + "'", &crypted)) return "no openssl for the login";
    while (!crypted.empty() && (crypted.back() == '\n' || crypted.back() == '\r')) crypted.pop_back();
    m_folder->Write("passwords", options.login->first + ":" + crypted + "\n");
    conf << "auth_param basic program " << kBasicHelper << ' ' << folder << "/passwords\n"
         << "auth_param basic realm " << options.realm << "\n"
         << "auth_param basic children 1\n"
         << "acl logged_in proxy_auth REQUIRED\n"
         << "http_access allow localhost logged_in\n";
  } else {
    conf << "http_access allow localhost\n";
  }
  conf << "http_access deny all\n";
  const std::string configFile = m_folder->Write("squid.conf", conf.str());
  if (std::string why = m_process.Start({kSquid, "-N", "-f", configFile}); !why.empty()) return why;
  if (std::string why = m_process.WaitUntilListening(m_port); !why.empty()) {
    return "squid: " + why + " (its log: " + folder + "/cache.log)";
  }
  return {};
}

void SquidProxy::Stop() {
  m_process.Stop();
  m_folder.reset();
}

}  // namespace testsupport
