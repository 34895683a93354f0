#include "platform/environment.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
// windows.h names its own SetEnvironmentVariable as a macro, which would rename this file's.
#undef SetEnvironmentVariable
#endif

namespace platform {

void SetEnvironmentVariable(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  // The C runtime's copy is the one getenv reads; an empty value removes the variable there.
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

std::filesystem::path HostFilePath(std::string_view posixPath) {
#ifdef _WIN32
  std::string local = "Z:" + std::string(posixPath);
  for (char& c : local) {
    if (c == '/') c = '\\';
  }
  return std::filesystem::path(local);
#else
  return std::filesystem::path(std::string(posixPath));
#endif
}

bool RunsOnWindows() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

bool RunsUnderWine() {
#ifdef _WIN32
  // Wine's ntdll exports its version; Windows' does not.
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace platform
