#include "platform/held_file.h"

#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"
#include "platform/environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInstallerBytes = "the installer as checked";

std::string HeldBytes(const HeldFile& held) {
  std::vector<char> buffer(64);
  const std::optional<std::size_t> got = held.ReadAt(0, buffer);
  return got ? std::string(buffer.data(), *got) : std::string("(unreadable)");
}

void Write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

// Links are made from the machine's POSIX side: Wine's own calls make none. Wine 8 shows such a link to a folder as a
// reparse point, but a link to a file as the file itself, so a Windows program under it cannot tell that one.
TEST(HeldFile, HoldsOnlyARegularFileNamedDirectly) {
  struct Case {
    const char* label;
    const char* make;  // shell command run in the scratch folder; it leaves "installer" there, or not
    bool held;
    bool seenUnderWine = true;
  };
  const Case cases[] = {
      {"a file", "printf x > installer", true},
      {"an empty file", ": > installer", true},
      {"a folder", "mkdir installer", false},
      {"nothing there", "true", false},
      {"a link to a file", "printf x > target && ln -s target installer", false, false},
      {"a pipe", "mkfifo installer", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (!c.seenUnderWine && platform::RunsUnderWine()) continue;
    const testsupport::ScratchDirectory scratch;
    ASSERT_FALSE(scratch.Path().empty());
    ASSERT_TRUE(testsupport::RunCommand("cd '" + scratch.Path() + "' && " + c.make));
    HeldFile held;
    EXPECT_EQ(held.Open(scratch.LocalPath("installer")), c.held);
    EXPECT_EQ(held.IsOpen(), c.held);
  }
}

// What the updater hashed is what it starts: on Windows nobody may change the file meanwhile; elsewhere a rename or a
// delete leaves the held file as it was, and only a write in place reaches it.
TEST(HeldFile, OthersCannotChangeItWhileItIsHeld) {
  struct Case {
    const char* label;
    std::function<bool(const fs::path& file)> act;  // true when the OS let it happen
    bool denied;                                     // where held files deny others anything
    bool reachesHeldBytes;                           // what the holder reads changes when it happens
  };
  const auto writeInto = [](const fs::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    return (out << "X").flush().good();
  };
  const auto renameOver = [](const fs::path& file) {
    Write(file.parent_path() / "other", "another program");
    std::error_code error;
    fs::rename(file.parent_path() / "other", file, error);
    return !error;
  };
  const Case cases[] = {
      {"read it too", [](const fs::path& file) { return std::ifstream(file, std::ios::binary).good(); }, false, false},
      {"write into it", writeInto, true, true},
      // A rename away needs the same deletion access.
      {"delete it", [](const fs::path& file) { std::error_code e; return fs::remove(file, e); }, true, false},
      {"rename another file over it", renameOver, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const testsupport::ScratchFolder scratch("vextal-held-file-");
    const fs::path file = scratch.Path() / "setup.exe";
    Write(file, kInstallerBytes);
    HeldFile held;
    ASSERT_TRUE(held.Open(file));
    const bool happened = c.act(file);
    EXPECT_EQ(happened, !(c.denied && HeldFile::DeniesOthers()));
    EXPECT_EQ(HeldBytes(held) == kInstallerBytes, !(happened && c.reachesHeldBytes));
    // Let go, the file is the updater's to remove.
    held.Close();
    std::error_code error;
    fs::remove_all(scratch.Path() / "setup.exe", error);
    EXPECT_FALSE(error) << error.message();
  }
}

}  // namespace
}  // namespace platform
