#pragma once

#include <string>

#include "platform/proxy_settings.h"

// The current user's Internet Options proxy settings, set for one scope as a user or a school's policy sets them,
// and put back as they were afterwards. Windows only (Wine's prefix in CI); elsewhere Set says there are none.
namespace testsupport {

class ScopedInternetOptions {
 public:
  struct Settings {
    std::string proxyList{};      // manual proxy: "host:port" or "http=...;https=..."
    std::string bypassList{};     // "<local>;*.example"
    std::string autoConfigUrl{};  // an automatic configuration script
    bool autoDetect = false;
  };
  ScopedInternetOptions() = default;
  ~ScopedInternetOptions();
  ScopedInternetOptions(const ScopedInternetOptions&) = delete;
  ScopedInternetOptions& operator=(const ScopedInternetOptions&) = delete;

  // Empty on success, otherwise why not (no Internet Options on this system: the caller skips).
  std::string Set(const Settings& settings);

 private:
  bool m_set = false;
  platform::StoredOptions m_previous;
};

}  // namespace testsupport
