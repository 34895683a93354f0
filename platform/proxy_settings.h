#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The user's proxy settings as the system holds them. Only reading lives here; which proxy serves which URL is
// decided by net/'s proxy rules.
namespace platform {

struct ProxySettings {
  // The proxy variables of the environment that are set (http_proxy, HTTPS_PROXY, no_proxy, ...), by name.
  std::vector<std::pair<std::string, std::string>> variables;
  // Windows: the current user's Internet Options.
  bool autoDetect = false;     // "自动检测设置": WPAD
  std::string autoConfigUrl;   // "使用自动配置脚本"
  std::string proxyList;       // the manual proxy: "host:port" or "http=host:port;https=host:port"
  std::string bypassList;      // "对于下列字符开头的地址不使用代理服务器", with "<local>"
  bool Automatic() const { return autoDetect || !autoConfigUrl.empty(); }
};

// Read afresh at each call: a user may change them while the program runs. The variables on every system; on Windows
// the Internet Options beside them.
ProxySettings ReadProxySettings();

// What an automatic configuration names for one origin.
struct AutomaticProxy {
  std::string proxyList;   // empty: DIRECT
  std::string bypassList;
};

// Windows: asks WinHTTP's resolver, which runs the configuration script (at settings.autoConfigUrl, or the one WPAD
// finds when settings.autoDetect) for origin ("http://host:port/"). Blocks for as long as the script's download and
// the discovery take: call it off the UI thread. Nothing when no script could be found or run, and everywhere but
// Windows.
std::optional<AutomaticProxy> AskAutomaticProxy(const std::string& origin, const ProxySettings& settings);

// Windows: the current user's Internet Options written as Internet Options write them (the manual proxy, its bypass
// list, the script, detection); StoredInternetOptions keeps what was there, RestoreInternetOptions puts it back
// (nothing: removes them). For tests, which set them in their own Wine prefix. False elsewhere.
bool WriteInternetOptions(const ProxySettings& settings);
using StoredOptions = std::optional<std::vector<unsigned char>>;
StoredOptions StoredInternetOptions();
bool RestoreInternetOptions(const StoredOptions& stored);

}  // namespace platform
