#include "platform/folder_lock.h"

#include "tests/support/folder_holder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace platform {
namespace {

namespace fs = std::filesystem;
using Outcome = FolderLock::Outcome;

constexpr std::uintptr_t kOwnWindow = 77;

constexpr int kScratchNameTries = 100;

// A folder of the test's own under the temp folder, removed with it: two runs at once, or what a crashed run left,
// never share one. create_directory makes it only where nothing stood, so a taken name is passed over, not reused.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device entropy;
    // Mixed with the clock: some toolchains' random_device repeats its sequence from run to run.
    const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937_64 names(entropy() ^ ticks);
    for (int attempt = 0; attempt < kScratchNameTries && m_path.empty(); ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / ("vextal-folder-lock-" + std::to_string(names()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) {
        m_path = candidate;
      }
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!m_path.empty()) fs::remove_all(m_path, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Empty when no folder could be made.
  const fs::path& Path() const { return m_path; }

 private:
  fs::path m_path;
};

TEST(FolderLock, OneProgramHoldsTheFolderAndAKilledOneLeavesItFree) {
  const ScratchFolder scratch;
  ASSERT_FALSE(scratch.Path().empty());
  // Its folder does not exist yet, as on a first start.
  const fs::path file = scratch.Path() / "data" / "vextal.lock";
  testsupport::FolderHolder holder(file);
  ASSERT_TRUE(holder.Holds());

  FolderLock second;
  EXPECT_EQ(second.Acquire(file), Outcome::kHeldElsewhere);
  EXPECT_FALSE(second.Held());
  EXPECT_FALSE(second.RecordWindow(reinterpret_cast<WindowHandle>(kOwnWindow)));
  const std::optional<RecordedWindow> recorded = ReadRecordedWindow(file);
  ASSERT_TRUE(recorded.has_value());
  EXPECT_EQ(recorded->window, testsupport::FolderHolder::kWindow);
  // No window of the holder's has that number (and only Windows can bring another program's window forward).
  EXPECT_FALSE(BringToFront(*recorded));

  holder.Kill();
  EXPECT_EQ(second.Acquire(file), Outcome::kHeld);
  // The killed holder's window is not brought forward on the next second start.
  EXPECT_FALSE(ReadRecordedWindow(file).has_value());
  EXPECT_TRUE(second.RecordWindow(reinterpret_cast<WindowHandle>(kOwnWindow)));
  EXPECT_EQ(ReadRecordedWindow(file).value_or(RecordedWindow{}).window, kOwnWindow);

  // Two starts in one process exclude each other as well, until the holder lets go.
  FolderLock third;
  EXPECT_EQ(third.Acquire(file), Outcome::kHeldElsewhere);
  second.Release();
  EXPECT_EQ(third.Acquire(file), Outcome::kHeld);
  third.Release();

  // A file where its folder should be: the lock cannot be had at all, which is not somebody else holding it.
  EXPECT_EQ(third.Acquire(file / "vextal.lock"), Outcome::kUnavailable);
}

// What another start does between a start's open and its lock: the lock taken is on the file the path names after it.
TEST(FolderLock, TheLockIsOnTheFileThePathNames) {
  struct Case {
    const char* label;
    int replacements;  // how many of the start's opens another start follows by putting a new file under the name
    Outcome expected;
  };
  const Case cases[] = {
      {"nobody in between", 0, Outcome::kHeld},
      // Where a file in use can be unlinked, that start's lock on the new file would otherwise run beside this one.
      {"the file replaced once", 1, Outcome::kHeld},
  };
  const ScratchFolder scratch;
  ASSERT_FALSE(scratch.Path().empty());
  const fs::path file = scratch.Path() / "data" / "vextal.lock";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    int left = c.replacements;
    FolderLock lock([&] {
      if (left == 0) return;
      --left;
      std::error_code refused;  // Windows keeps an open file from being deleted: there the race cannot happen
      fs::remove(file, refused);
      std::ofstream(file, std::ios::binary) << "";
    });
    EXPECT_EQ(lock.Acquire(file), c.expected);
    FolderLock second;
    EXPECT_EQ(second.Acquire(file), Outcome::kHeldElsewhere);
  }
}

TEST(FolderLock, OnlyAWholeRecordNamesAWindow) {
  struct Case {
    const char* text;
    bool names;
  };
  const Case cases[] = {
      {"123 456\n", true},
      {"123 45", false},  // read while the holder writes it
      {"", false},        // held, no window shown yet
      {"123 0\n", false},
      {"123\n", false},
      {"123 456 7\n", false},
  };
  const ScratchFolder scratch;
  ASSERT_FALSE(scratch.Path().empty());
  const fs::path file = scratch.Path() / "vextal.lock";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << c.text;
    const std::optional<RecordedWindow> recorded = ReadRecordedWindow(file);
    ASSERT_EQ(recorded.has_value(), c.names);
    if (c.names) {
      EXPECT_EQ(recorded->process, 123U);
      EXPECT_EQ(recorded->window, 456U);
    }
  }
}

}  // namespace
}  // namespace platform
