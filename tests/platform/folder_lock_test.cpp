#include "platform/folder_lock.h"

#include "tests/support/folder_holder.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace platform {
namespace {

namespace fs = std::filesystem;
using Outcome = FolderLock::Outcome;

constexpr std::uintptr_t kOwnWindow = 77;

TEST(FolderLock, OneProgramHoldsTheFolderAndAKilledOneLeavesItFree) {
  const testsupport::ScratchFolder scratch("vextal-folder-lock-");
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
  const testsupport::ScratchFolder scratch("vextal-folder-lock-");
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
  const testsupport::ScratchFolder scratch("vextal-folder-lock-");
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
