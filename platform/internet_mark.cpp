#include "platform/internet_mark.h"

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/xattr.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32
constexpr const wchar_t* kZoneIdentifierStream = L":Zone.Identifier";

// FAT and some network shares have no streams, and Wine's folders do not either: there a "name:Zone.Identifier"
// would become a second file beside the paper, so the volume is asked first.
bool VolumeKeepsStreams(const std::filesystem::path& file) {
  HANDLE handle = CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD flags = 0;
  const BOOL ok = GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
  CloseHandle(handle);
  return ok && (flags & FILE_NAMED_STREAMS) != 0;
}
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
  if (!VolumeKeepsStreams(file)) return false;
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

std::string InternetMarkOf(const std::filesystem::path& file) {
#ifdef _WIN32
  std::ifstream stream(std::filesystem::path(file.native() + kZoneIdentifierStream), std::ios::binary);
  std::ostringstream text;
  if (stream) text << stream.rdbuf();
  return text.str();
#else
  std::string origin(4096, '\0');
  const ssize_t length = getxattr(file.c_str(), kOriginAttribute, origin.data(), origin.size());
  origin.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return origin;
#endif
}

}  // namespace platform
