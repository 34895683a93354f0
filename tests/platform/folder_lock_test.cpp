#include "platform/folder_lock.h"

#include "tests/support/folder_holder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace platform {
namespace {

namespace fs = std::filesystem;
using Outcome = FolderLock::Outcome;

constexpr std::uintptr_t kOwnWindow = 77;

fs::path FreshFolder(const std::string& name) {
  const fs::path folder = fs::temp_directory_path() / name;
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return folder;
}

TEST(FolderLock, OneProgramHoldsTheFolderAndAKilledOneLeavesItFree) {
  const fs::path folder = FreshFolder("vextal-folder-lock");
  // Its folder does not exist yet, as on a first start.
  const fs::path file = folder / "data" / "vextal.lock";
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
  std::error_code ignored;
  fs::remove_all(folder, ignored);
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
  const fs::path folder = FreshFolder("vextal-folder-record");
  fs::create_directories(folder);
  const fs::path file = folder / "vextal.lock";
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
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
}  // namespace platform
