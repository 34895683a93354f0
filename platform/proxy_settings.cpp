#include "platform/proxy_settings.h"

#ifdef _WIN32
#include <windows.h>
#include <winhttp.h>
#endif

#include <cstdlib>

namespace platform {
namespace {

// curl's names, both cases: the rules for which wins live in net/.
constexpr const char* kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                           "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

ProxySettings ReadEnvironment() {
  ProxySettings settings;
  for (const char* name : kProxyVariables) {
    if (const char* value = std::getenv(name)) settings.variables.emplace_back(name, value);
  }
  return settings;
}

}  // namespace

#ifdef _WIN32
namespace {

std::string Utf8FromWide(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 1) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

// WinHTTP hands out its strings from GlobalAlloc; each is freed here once copied.
std::string TakeGlobalString(LPWSTR text) {
  std::string out = Utf8FromWide(text);
  if (text != nullptr) GlobalFree(text);
  return out;
}

// How long WinHTTP may take to fetch a configuration script; the caller's own wait is the limit the user feels.
constexpr int kScriptFetchLimitMs = 10000;

}  // namespace

ProxySettings ReadProxySettings() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  ProxySettings settings = ReadEnvironment();
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return settings;
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.autoConfigUrl = TakeGlobalString(config.lpszAutoConfigUrl);
  settings.proxyList = TakeGlobalString(config.lpszProxy);
  settings.bypassList = TakeGlobalString(config.lpszProxyBypass);
  return settings;
}

std::optional<AutomaticProxy> AskAutomaticProxy(const std::string& origin, const ProxySettings& settings) {
  if (!settings.Automatic()) return std::nullopt;
  HINTERNET session = WinHttpOpen(L"Vextal", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) return std::nullopt;
  WinHttpSetTimeouts(session, kScriptFetchLimitMs, kScriptFetchLimitMs, kScriptFetchLimitMs, kScriptFetchLimitMs);
  const std::wstring scriptUrl = WideFromUtf8(settings.autoConfigUrl);
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (!scriptUrl.empty()) {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl.c_str();
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  // A script on an intranet server may ask for the user's Windows logon, as it does of a browser.
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  const std::wstring url = WideFromUtf8(origin);
  std::optional<AutomaticProxy> found;
  if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
    AutomaticProxy proxy;
    proxy.proxyList = TakeGlobalString(info.lpszProxy);
    proxy.bypassList = TakeGlobalString(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) proxy.proxyList.clear();
    found = proxy;
  }
  WinHttpCloseHandle(session);
  return found;
}

#else

ProxySettings ReadProxySettings() { return ReadEnvironment(); }

std::optional<AutomaticProxy> AskAutomaticProxy(const std::string&, const ProxySettings&) { return std::nullopt; }

#endif

}  // namespace platform
