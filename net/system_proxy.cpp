#include "net/system_proxy.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/pump_policy.h"
#include "net/background_wait.h"
#include "platform/proxy_settings.h"

namespace net {
namespace {

// What the automatic configuration said for one origin, kept for a while: found (a proxy list, or DIRECT), nothing
// (no script, or it could not run), or still being asked by a resolver thread that outlived its wait.
struct KeptAnswer {
  bool pending = false;
  std::optional<platform::AutomaticProxy> answer;
  std::chrono::steady_clock::time_point until;
};

std::mutex g_mutex;
std::map<std::string, KeptAnswer> g_automatic;  // by origin
std::map<std::string, ProxyLogin> g_logins;     // by proxy name
ProxyLoginPrompt g_prompt;

ProxyEnvironment EnvironmentOf(const platform::ProxySettings& settings) {
  ProxyEnvironment env;
  for (const auto& [name, value] : settings.variables) {
    if (name == "http_proxy") env.http_proxy = value;
    else if (name == "HTTP_PROXY") env.HTTP_PROXY = value;
    else if (name == "https_proxy") env.https_proxy = value;
    else if (name == "HTTPS_PROXY") env.HTTPS_PROXY = value;
    else if (name == "all_proxy") env.all_proxy = value;
    else if (name == "ALL_PROXY") env.ALL_PROXY = value;
    else if (name == "no_proxy") env.no_proxy = value;
    else if (name == "NO_PROXY") env.NO_PROXY = value;
  }
  return env;
}

std::string OriginOf(const ProxyQuery& query) {
  return query.scheme + "://" + query.host + ":" + std::to_string(query.port) + "/";
}

// The automatic configuration's answer for the query's origin, kept or asked afresh. Nothing when it has none or did
// not answer in time: the request then goes as the other settings say. A resolver that answers late still leaves its
// answer for the requests after, and while it is at work no other request waits for it.
std::optional<platform::AutomaticProxy> AutomaticProxyFor(const ProxyQuery& query,
                                                          const platform::ProxySettings& settings) {
  const std::string origin = OriginOf(query);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto kept = g_automatic.find(origin);
    if (kept != g_automatic.end() && (kept->second.pending || kept->second.until > std::chrono::steady_clock::now())) {
      return kept->second.answer;
    }
    g_automatic[origin] = KeptAnswer{true, std::nullopt, {}};
  }
  const bool answered = WaitOnBackgroundThread(
      [origin, settings] {
        std::optional<platform::AutomaticProxy> answer = platform::AskAutomaticProxy(origin, settings);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_automatic[origin] =
            KeptAnswer{false, answer, std::chrono::steady_clock::now() + std::chrono::milliseconds(kAutomaticProxyKeptMs)};
      },
      query.automaticLimitMs, query.cancelled);
  if (!answered) return std::nullopt;
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_automatic[origin].answer;
}

}  // namespace

ProxyServer SystemProxyFor(const ProxyQuery& query) {
  if (IsLoopbackHost(query.host)) return {};
  const platform::ProxySettings settings = platform::ReadProxySettings();
  // Windows' way first (a script or WPAD, then the manual proxy), then the variables, as curl reads them everywhere.
  if (settings.Automatic()) {
    if (const auto automatic = AutomaticProxyFor(query, settings)) {
      return ChooseManualProxy(automatic->proxyList, automatic->bypassList, query.scheme, query.host, query.port);
    }
  }
  if (!settings.proxyList.empty()) {
    return ChooseManualProxy(settings.proxyList, settings.bypassList, query.scheme, query.host, query.port);
  }
  return ProxyFromEnvironment(EnvironmentOf(settings), query.scheme, query.host, query.port);
}

void ForgetAutomaticProxies() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_automatic.clear();
}

void SetProxyLoginPrompt(ProxyLoginPrompt prompt) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_prompt = std::move(prompt);
}

std::optional<ProxyLogin> AskProxyLogin(const std::string& proxyName, const std::string& realm) {
  ProxyLoginPrompt prompt;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    prompt = g_prompt;
  }
  if (!prompt) return std::nullopt;
  return prompt(proxyName, realm);
}

void RememberProxyLogin(const std::string& proxyName, const ProxyLogin& login) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_logins[proxyName] = login;
}

std::optional<ProxyLogin> RememberedProxyLogin(const std::string& proxyName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto found = g_logins.find(proxyName);
  if (found == g_logins.end()) return std::nullopt;
  return found->second;
}

void ForgetProxyLogins() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_logins.clear();
}

}  // namespace net
