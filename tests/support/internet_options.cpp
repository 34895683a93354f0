#include "tests/support/internet_options.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdint>

namespace testsupport {

#ifdef _WIN32
namespace {

constexpr const wchar_t* kConnections = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr const wchar_t* kDefaultSettings = L"DefaultConnectionSettings";
// The layout Internet Options write: a version, a counter, the kinds in use, then each text with its length before it.
constexpr std::uint32_t kSettingsVersion = 0x46;
constexpr std::uint32_t kDirect = 0x1;
constexpr std::uint32_t kManualProxy = 0x2;
constexpr std::uint32_t kScript = 0x4;
constexpr std::uint32_t kDetect = 0x8;

void PutNumber(std::vector<unsigned char>& blob, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) blob.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void PutText(std::vector<unsigned char>& blob, const std::string& text) {
  PutNumber(blob, static_cast<std::uint32_t>(text.size()));
  blob.insert(blob.end(), text.begin(), text.end());
}

}  // namespace

std::string ScopedInternetOptions::Set(const Settings& settings) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return "the Internet Options cannot be written here";
  }
  if (!m_set) {
    DWORD size = 0;
    if (RegQueryValueExW(key, kDefaultSettings, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      std::vector<unsigned char> previous(size);
      RegQueryValueExW(key, kDefaultSettings, nullptr, nullptr, previous.data(), &size);
      m_previous = previous;
    }
  }
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
  for (int i = 0; i < 8; ++i) PutNumber(blob, 0);
  const LSTATUS written = RegSetValueExW(key, kDefaultSettings, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
  RegCloseKey(key);
  if (written != ERROR_SUCCESS) return "the Internet Options cannot be written here";
  m_set = true;
  return {};
}

ScopedInternetOptions::~ScopedInternetOptions() {
  if (!m_set) return;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnections, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  if (m_previous) {
    RegSetValueExW(key, kDefaultSettings, 0, REG_BINARY, m_previous->data(), static_cast<DWORD>(m_previous->size()));
  } else {
    RegDeleteValueW(key, kDefaultSettings);
  }
  RegCloseKey(key);
}
#else
std::string ScopedInternetOptions::Set(const Settings&) { return "no Internet Options on this system"; }
ScopedInternetOptions::~ScopedInternetOptions() = default;
#endif

}  // namespace testsupport
