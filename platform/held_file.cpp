#include "platform/held_file.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

HeldFile::~HeldFile() { Close(); }

HeldFile::HeldFile(HeldFile&& other) noexcept
    : m_path(std::move(other.m_path)), m_file(std::exchange(other.m_file, kNoFile)) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_path = std::move(other.m_path);
    m_file = std::exchange(other.m_file, kNoFile);
  }
  return *this;
}

bool HeldFile::DeniesOthers() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

bool HeldFile::Open(const std::filesystem::path& file) {
  Close();
#ifdef _WIN32
  // Sharing reading only: the image loader's own opening of a program shares reading too, so the file can still be
  // started while held, and nobody can open it for writing or deletion (a rename is one) meanwhile.
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  constexpr DWORD kNotAPlainFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  BY_HANDLE_FILE_INFORMATION info{};
  // Asked of the path too: Wine shows a link of the machine's own as a reparse point there, not through a handle.
  const DWORD named = GetFileAttributesW(file.c_str());
  const bool plainFile = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                         (info.dwFileAttributes & kNotAPlainFile) == 0 && named != INVALID_FILE_ATTRIBUTES &&
                         (named & kNotAPlainFile) == 0;
  if (!plainFile) {
    CloseHandle(handle);
    return false;
  }
  m_file = reinterpret_cast<std::intptr_t>(handle);
#else
  // Without O_NONBLOCK the opening of a pipe would wait for a writer; O_NOFOLLOW refuses a link as the last name.
  const int descriptor = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
  if (descriptor < 0) return false;
  struct stat info {};
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(descriptor);
    return false;
  }
  m_file = descriptor;
#endif
  m_path = file;
  return true;
}

void HeldFile::Close() {
  if (m_file == kNoFile) return;
#ifdef _WIN32
  CloseHandle(reinterpret_cast<HANDLE>(m_file));
#else
  close(static_cast<int>(m_file));
#endif
  m_file = kNoFile;
  m_path.clear();
}

std::optional<std::size_t> HeldFile::ReadAt(std::uint64_t offset, std::span<char> buffer) const {
  if (m_file == kNoFile) return std::nullopt;
#ifdef _WIN32
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD wanted = buffer.size() > MAXDWORD ? MAXDWORD : static_cast<DWORD>(buffer.size());
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(m_file), buffer.data(), wanted, &got, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return std::nullopt;
  }
  return got;
#else
  for (;;) {
    const ssize_t got = pread(static_cast<int>(m_file), buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return std::nullopt;
  }
#endif
}

}  // namespace platform
