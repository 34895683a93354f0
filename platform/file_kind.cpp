#include "platform/file_kind.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>

#include <sys/stat.h>
#endif

namespace platform {

EntryKind EntryKindOf(const std::filesystem::path& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::kMissing : EntryKind::kOther;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kFolder;
  // Opened without any access, only to look: a reserved name such as CON is the device, not a file of the folder.
  const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return EntryKind::kOther;
  const bool onDisk = GetFileType(handle) == FILE_TYPE_DISK;
  CloseHandle(handle);
  return onDisk ? EntryKind::kFile : EntryKind::kOther;
#else
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? EntryKind::kMissing : EntryKind::kOther;
  }
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  return S_ISREG(info.st_mode) ? EntryKind::kFile : EntryKind::kOther;
#endif
}

}  // namespace platform
