#include "platform/hidden_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <system_error>

namespace platform {

bool HideFromListings(const std::filesystem::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_HIDDEN) == 0) SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
#endif
  return IsHiddenFromListings(path);
}

bool IsHiddenFromListings(const std::filesystem::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
#else
  std::error_code error;
  const std::string name = path.filename().string();
  return !name.empty() && name.front() == '.' && std::filesystem::exists(path, error);
#endif
}

}  // namespace platform
