#include "platform/user_folders.h"

#include <cstdlib>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32
std::filesystem::path EnvironmentPath(const wchar_t* name) {
  const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
  if (length == 0) return {};
  std::wstring value(length, L'\0');
  const DWORD written = GetEnvironmentVariableW(name, value.data(), length);
  if (written == 0 || written >= length) return {};
  value.resize(written);
  return value;
}
#else
std::filesystem::path EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::filesystem::path(value) : std::filesystem::path();
}
#endif

}  // namespace

std::filesystem::path UpdatesFolder() {
#ifdef _WIN32
  const std::filesystem::path local = EnvironmentPath(L"LOCALAPPDATA");
  if (local.empty() || !local.is_absolute()) return {};
  return local / L"Vextal" / L"Updates";
#else
  // The base directory rules: a relative XDG_CACHE_HOME is to be ignored.
  if (const std::filesystem::path cache = EnvironmentPath("XDG_CACHE_HOME"); cache.is_absolute()) {
    return cache / "vextal" / "updates";
  }
  const std::filesystem::path home = EnvironmentPath("HOME");
  if (!home.is_absolute()) return {};
  return home / ".cache" / "vextal" / "updates";
#endif
}

bool MakePrivateFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error)) return false;
#ifndef _WIN32
  // A folder whose files another user could swap would let that user choose what the updater runs.
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace,
                               error);
  if (error) return false;
#endif
  return true;
}

bool FilesHavePermissionBits() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

}  // namespace platform
