#pragma once

#include "platform/desktop.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <utility>

// One program per working folder. The claim is an OS lock on a file in the folder, which the OS drops with the
// process however it ends, so a killed program never blocks the next start; the file itself is left behind and
// means nothing on its own.
namespace platform {

// The lock of a working folder, relative to it; the client holds it while it runs, the updater waits for it.
inline constexpr const char* kWorkingFolderLockFile = "data/vextal.lock";

// The window the folder's running program shows, as that program wrote it into the lock file.
struct RecordedWindow {
  std::uint64_t process = 0;
  std::uint64_t window = 0;
};

class FolderLock {
 public:
  enum class Outcome {
    kHeld,           // this process holds the folder now
    kHeldElsewhere,  // another running program does
    kUnavailable,    // the file cannot be made or locked (a read-only folder, a file system without locks)
  };

  // afterOpen runs between opening the file and locking it, where tests make another start replace the file.
  explicit FolderLock(std::function<void()> afterOpen = {}) : m_afterOpen(std::move(afterOpen)) {}
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock on file, made with its folder when missing. What an earlier holder recorded is cleared. The lock
  // held is always on the file the path names at that moment, never on one unlinked meanwhile.
  Outcome Acquire(const std::filesystem::path& file);
  bool Held() const;
  // Records this process's window for a later start in the folder to bring to the front; false when not held or
  // not written.
  bool RecordWindow(WindowHandle window);
  void Release();

 private:
  // One open and lock; nothing when the file locked is no longer the one the path names.
  std::optional<Outcome> TryAcquire(const std::filesystem::path& file);

  std::function<void()> m_afterOpen;
  std::intptr_t m_file = -1;
};

// What the holder of file recorded; nothing when no window is recorded yet or the file cannot be read.
std::optional<RecordedWindow> ReadRecordedWindow(const std::filesystem::path& file);

// Restores the window when minimised and brings it, or the dialog it has open, to the front. False when it is no
// longer that process's window, Windows refused the foreground, or the platform offers no such call (anywhere but
// Windows: the toolkit there cannot reach another program's window).
bool BringToFront(const RecordedWindow& recorded);

}  // namespace platform
