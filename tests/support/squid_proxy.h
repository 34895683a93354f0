#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"

// A real squid on a free loopback port, in a folder of its own, for tests of what crosses the proxies our users sit
// behind: absolute-form requests, CONNECT, a 407 Basic login, names only the proxy can resolve (its hosts file).
//
//   testsupport::SquidProxy proxy;
//   if (std::string why = proxy.Start({.hosts = {{"papers.vextal.test", "127.0.0.1"}}}); !why.empty()) GTEST_SKIP() << why;
//   client.ChooseProxy = [&](const net::ProxyQuery&) { return net::ProxyServer{"127.0.0.1", proxy.Port()}; };
namespace testsupport {

class SquidProxy {
 public:
  struct Options {
    std::vector<std::pair<std::string, std::string>> hosts{};  // name, address: resolved by squid alone
    std::optional<std::pair<std::string, std::string>> login{};  // user, password: every request needs them (407)
    std::string realm = "Campus proxy";
  };

  // Starts squid and waits until it accepts connections. Empty on success, otherwise why not (no squid on this
  // system, as under Windows: the caller skips).
  std::string Start(const Options& options);
  void Stop();

  int Port() const { return m_port; }
  // "127.0.0.1:PORT", as the client names a proxy in its messages.
  std::string Name() const;

 private:
  std::unique_ptr<ScratchDirectory> m_folder;
  ChildProcess m_process;
  int m_port = 0;
};

}  // namespace testsupport
