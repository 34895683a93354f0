#include "platform/proxy_settings.h"

#ifdef _WIN32
#include <windows.h>
#include <winhttp.h>
#endif

#include <cstdint>
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

namespace {

constexpr const wchar_t* kConnections = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr const wchar_t* kDefaultSettings = L"DefaultConnectionSettings";
// The layout Internet Options write: a version, a counter, the kinds in use, then each text with its length before it.
constexpr std::uint32_t kSettingsVersion = 0x46;
constexpr std::uint32_t kDirect = 0x1;
constexpr std::uint32_t kManualProxy = 0x2;
constexpr std::uint32_t kScript = 0x4;
constexpr std::uint32_t kDetect = 0x8;
constexpr int kReservedNumbers = 8;

void PutNumber(std::vector<unsigned char>& blob, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) blob.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void PutText(std::vector<unsigned char>& blob, const std::string& text) {
  PutNumber(blob, static_cast<std::uint32_t>(text.size()));
  blob.insert(blob.end(), text.begin(), text.end());
}

bool WriteBlob(const std::vector<unsigned char>* blob) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LSTATUS written = blob != nullptr ? RegSetValueExW(key, kDefaultSettings, 0, REG_BINARY, blob->data(),
                                                           static_cast<DWORD>(blob->size()))
                                          : RegDeleteValueW(key, kDefaultSettings);
  RegCloseKey(key);
  return written == ERROR_SUCCESS || (blob == nullptr && written == ERROR_FILE_NOT_FOUND);
}

}  // namespace

bool WriteInternetOptions(const ProxySettings& settings) {
  std::uint32_t kinds = kDirect;
  if (!settings.proxyList.empty()) kinds |= kManualProxy;
  if (!settings.autoConfigUrl.empty()) kinds |= kScript;
  if (settings.autoDetect) kinds |= kDetect;
  std::vector<unsigned char> blob;
  PutNumber(blob, kSettingsVersion);
  PutNumber(blob, 0);
  PutNumber(blob, kinds);
  PutText(blob, settings.proxyList);
  PutText(blob, settings.bypassList);
  PutText(blob, settings.autoConfigUrl);
  for (int i = 0; i < kReservedNumbers; ++i) PutNumber(blob, 0);
  return WriteBlob(&blob);
}

StoredOptions StoredInternetOptions() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnections, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  StoredOptions stored;
  DWORD size = 0;
  if (RegQueryValueExW(key, kDefaultSettings, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<unsigned char> blob(size);
    if (RegQueryValueExW(key, kDefaultSettings, nullptr, nullptr, blob.data(), &size) == ERROR_SUCCESS) stored = blob;
  }
  RegCloseKey(key);
  return stored;
}

bool RestoreInternetOptions(const StoredOptions& stored) { return WriteBlob(stored ? &*stored : nullptr); }

#else

ProxySettings ReadProxySettings() { return ReadEnvironment(); }

bool WriteInternetOptions(const ProxySettings&) { return false; }
StoredOptions StoredInternetOptions() { return std::nullopt; }
bool RestoreInternetOptions(const StoredOptions&) { return false; }

std::optional<AutomaticProxy> AskAutomaticProxy(const std::string&, const ProxySettings&) { return std::nullopt; }

#endif

}  // namespace platform
