#include "tests/support/internet_options.h"

namespace testsupport {

std::string ScopedInternetOptions::Set(const Settings& settings) {
  if (!m_set) m_previous = platform::StoredInternetOptions();
  platform::ProxySettings written;
  written.proxyList = settings.proxyList;
  written.bypassList = settings.bypassList;
  written.autoConfigUrl = settings.autoConfigUrl;
  written.autoDetect = settings.autoDetect;
  if (!platform::WriteInternetOptions(written)) return "no Internet Options to set on this system";
  m_set = true;
  return {};
}

ScopedInternetOptions::~ScopedInternetOptions() {
  if (m_set) platform::RestoreInternetOptions(m_previous);
}

}  // namespace testsupport
