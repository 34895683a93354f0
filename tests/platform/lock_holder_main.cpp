// Holds a working folder for the lock tests as a running program does: takes the lock on the file given, records
// the window number given, then waits for the test to kill it.
//
//   vextal_lock_holder LOCKFILE WINDOW
#include "platform/folder_lock.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kUsageExitCode = 2;
constexpr int kNotHeldExitCode = 3;
// A holder whose test died must not linger.
constexpr auto kGiveUpAfter = std::chrono::seconds(60);
constexpr int kDecimal = 10;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return kUsageExitCode;
  platform::FolderLock lock;
  if (lock.Acquire(argv[1]) != platform::FolderLock::Outcome::kHeld) return kNotHeldExitCode;
  const std::uintptr_t window = std::strtoull(argv[2], nullptr, kDecimal);
  lock.RecordWindow(reinterpret_cast<platform::WindowHandle>(window));
  std::this_thread::sleep_for(kGiveUpAfter);
  return 0;
}
