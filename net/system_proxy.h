#pragma once

#include <functional>
#include <optional>
#include <string>

#include "net/proxy_rules.h"

// The proxy the user's system names for a request, and the proxy logins the user gave during this run.
namespace net {

// How long an automatic configuration (a script, WPAD) may take before the request goes without it, and how long
// its answer for one origin is kept: a script is fetched and run once per origin per while, not once per request.
inline constexpr int kAutomaticProxyLimitMs = 5000;
inline constexpr int kAutomaticProxyKeptMs = 5 * 60 * 1000;

struct ProxyQuery {
  std::string scheme;  // "http" or "https", lower case
  std::string host;
  int port = 0;
  // Asked while an automatic configuration is waited for: true ends the wait (the user's cancel).
  std::function<bool()> cancelled;
  // How long an automatic configuration may be waited for.
  int automaticLimitMs = kAutomaticProxyLimitMs;
};

// What the system names: loopback never; on Windows the automatic configuration when one is set (asked off the UI
// thread, the window served meanwhile), else the manual proxy with its bypass list; elsewhere the environment.
ProxyServer SystemProxyFor(const ProxyQuery& query);
// Forgets the automatic answers kept so far (for tests, and after the settings changed).
void ForgetAutomaticProxies();

struct ProxyLogin {
  std::string user;
  std::string password;
};
// Asks the user for a proxy's name and password (proxyName is "host:port", realm what the proxy calls itself);
// nothing when the user declined. The application installs one that shows its dialog; without one, nobody is asked.
using ProxyLoginPrompt = std::function<std::optional<ProxyLogin>(const std::string& proxyName, const std::string& realm)>;
void SetProxyLoginPrompt(ProxyLoginPrompt prompt);
std::optional<ProxyLogin> AskProxyLogin(const std::string& proxyName, const std::string& realm);

// The logins given during this run, per proxy ("host:port"); every client of the process uses them.
void RememberProxyLogin(const std::string& proxyName, const ProxyLogin& login);
std::optional<ProxyLogin> RememberedProxyLogin(const std::string& proxyName);
void ForgetProxyLogins();

}  // namespace net
