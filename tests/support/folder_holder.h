#pragma once

#include <cstdint>
#include <filesystem>

namespace testsupport {

// Another program holding a working folder: vextal_lock_holder as a process of its own, which the test kills from
// outside the way a task manager does, so nothing of it runs after the kill and its lock is left for the OS to drop.
class FolderHolder {
 public:
  // What the holder records as its window: no window of anyone's.
  static constexpr std::uint64_t kWindow = 4242;

  // Starts the holder on lockFile and waits until it holds the lock and has recorded its window.
  explicit FolderHolder(const std::filesystem::path& lockFile);
  ~FolderHolder();
  FolderHolder(const FolderHolder&) = delete;
  FolderHolder& operator=(const FolderHolder&) = delete;

  // Whether it got as far as holding the folder.
  bool Holds() const { return m_holds; }
  std::uint64_t ProcessId() const { return m_id; }
  // SIGKILL or TerminateProcess; returns once the process is gone.
  void Kill();

 private:
  std::uint64_t m_id = 0;
  void* m_process = nullptr;  // the process handle, on Windows
  bool m_holds = false;
};

}  // namespace testsupport
