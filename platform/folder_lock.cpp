#include "platform/folder_lock.h"

#include <charconv>
#include <fstream>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

constexpr std::intptr_t kNoFile = -1;
// Each further try follows a replacement of the file by someone else; this many in a row is no race but a fault.
constexpr int kLockTries = 10;
// "<process> <window>\n" in decimal; nothing longer is ever written.
constexpr std::size_t kLongestRecord = 64;

#ifdef _WIN32
// Windows locks are mandatory: a locked range cannot be read by anyone else. The lock sits far past the record, so a
// later start can still read which window to bring forward.
constexpr DWORD kLockedByteHigh = 0;
constexpr DWORD kLockedByteLow = DWORD{1} << 30;

HANDLE AsHandle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

OVERLAPPED LockedByte() {
  OVERLAPPED at{};
  at.Offset = kLockedByteLow;
  at.OffsetHigh = kLockedByteHigh;
  return at;
}

std::uint64_t OwnProcess() { return GetCurrentProcessId(); }

bool Replace(std::intptr_t file, const std::string& text) {
  const HANDLE handle = AsHandle(file);
  DWORD written = 0;
  return SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == 0 &&
         WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size() && SetEndOfFile(handle);
}
#else
std::uint64_t OwnProcess() { return static_cast<std::uint64_t>(getpid()); }

bool Replace(std::intptr_t file, const std::string& text) {
  const int descriptor = static_cast<int>(file);
  return ftruncate(descriptor, 0) == 0 &&
         pwrite(descriptor, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}
#endif

}  // namespace

FolderLock::~FolderLock() { Release(); }

FolderLock::Outcome FolderLock::Acquire(const std::filesystem::path& file) {
  Release();
  std::error_code ignored;
  // On the first start in a folder data/ does not exist yet; when it cannot be made, the open below says so.
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ignored);
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    const std::optional<Outcome> outcome = TryAcquire(file);
    if (!outcome) continue;
    // A killed holder's record names a window that is gone, or by now another program's.
    if (*outcome == Outcome::kHeld) Replace(m_file, std::string());
    return *outcome;
  }
  return Outcome::kUnavailable;
}

std::optional<FolderLock::Outcome> FolderLock::TryAcquire(const std::filesystem::path& file) {
#ifdef _WIN32
  // No sharing of deletion: the file cannot vanish under its holder and let a second program make a new one.
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Outcome::kUnavailable;
  if (m_afterOpen) m_afterOpen();
  OVERLAPPED at = LockedByte();
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return error == ERROR_LOCK_VIOLATION ? Outcome::kHeldElsewhere : Outcome::kUnavailable;
  }
  m_file = reinterpret_cast<std::intptr_t>(handle);
#else
  // Close-on-exec: the updater this program starts must not inherit the folder along with the descriptor.
  const int descriptor = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0) return Outcome::kUnavailable;
  if (m_afterOpen) m_afterOpen();
  // flock rather than fcntl locks: those vanish when the process closes any descriptor of the file, even one of
  // ReadRecordedWindow's.
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(descriptor);
    return error == EWOULDBLOCK ? Outcome::kHeldElsewhere : Outcome::kUnavailable;
  }
  // Here a file in use can be unlinked: between the open and the lock another start, or a clean-up, may have put a
  // new file under the name, which that start then locks too. A lock on a file the path no longer names claims
  // nothing; the file the path names now is tried instead.
  struct stat locked {};
  struct stat named {};
  if (fstat(descriptor, &locked) != 0 || stat(file.c_str(), &named) != 0 || locked.st_dev != named.st_dev ||
      locked.st_ino != named.st_ino) {
    close(descriptor);
    return std::nullopt;
  }
  m_file = descriptor;
#endif
  return Outcome::kHeld;
}

bool FolderLock::Held() const { return m_file != kNoFile; }

bool FolderLock::RecordWindow(WindowHandle window) {
  if (!Held()) return false;
  const std::uint64_t number = reinterpret_cast<std::uintptr_t>(window);
  return Replace(m_file, std::to_string(OwnProcess()) + ' ' + std::to_string(number) + '\n');
}

void FolderLock::Release() {
  if (!Held()) return;
#ifdef _WIN32
  // Closing would drop the lock too, but only "when resources allow"; the next start may be waiting for it.
  OVERLAPPED at = LockedByte();
  UnlockFileEx(AsHandle(m_file), 0, 1, 0, &at);
  CloseHandle(AsHandle(m_file));
#else
  close(static_cast<int>(m_file));
#endif
  m_file = kNoFile;
}

std::optional<RecordedWindow> ReadRecordedWindow(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text(kLongestRecord, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  // Read while its holder writes it, a record may be cut short: then there is none yet.
  if (text.empty() || text.back() != '\n') return std::nullopt;
  RecordedWindow recorded;
  const char* end = text.data() + text.size() - 1;
  const auto process = std::from_chars(text.data(), end, recorded.process);
  if (process.ec != std::errc() || process.ptr == end || *process.ptr != ' ') return std::nullopt;
  const auto window = std::from_chars(process.ptr + 1, end, recorded.window);
  if (window.ec != std::errc() || window.ptr != end || recorded.window == 0) return std::nullopt;
  return recorded;
}

bool BringToFront(const RecordedWindow& recorded) {
#ifdef _WIN32
  const HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(recorded.window));
  DWORD owner = 0;
  // A window number outlives its window and is given out again; only the recorded process's own will do.
  if (!IsWindow(window) || GetWindowThreadProcessId(window, &owner) == 0 || owner != recorded.process) return false;
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  // A message box the program shows disables the main window; the user has to answer the box first.
  const HWND popup = GetLastActivePopup(window);
  // Started by the user, this process may still hand the foreground to another; when Windows refuses, it flashes
  // the window's taskbar button instead.
  return SetForegroundWindow(popup != nullptr ? popup : window) != FALSE;
#else
  (void)recorded;
  return false;
#endif
}

}  // namespace platform
