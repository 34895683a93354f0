#include "platform/internet_mark.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/xattr.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32
constexpr const wchar_t* kZoneIdentifierStream = L":Zone.Identifier";
#else
// The freedesktop.org name for where a file was downloaded from; file managers show it.
constexpr const char* kOriginAttribute = "user.xdg.origin.url";
#endif

}  // namespace

std::string ZoneIdentifierText(std::string_view hostUrl) {
  // The address is the request's own, its controls already escaped, so it cannot add lines of its own.
  std::string text = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=";
  text.append(hostUrl);
  text.append("\r\n");
  return text;
}

bool MarkFromInternet(const std::filesystem::path& file, std::string_view hostUrl) {
#ifdef _WIN32
  const std::wstring stream = file.native() + kZoneIdentifierStream;
  HANDLE handle = CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const std::string text = ZoneIdentifierText(hostUrl);
  DWORD written = 0;
  const BOOL ok = WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(handle);
  return ok && written == text.size();
#else
  return setxattr(file.c_str(), kOriginAttribute, hostUrl.data(), hostUrl.size(), 0) == 0;
#endif
}

}  // namespace platform
