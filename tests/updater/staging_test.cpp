#include "updater/staging.h"

#include "platform/program_run.h"
#include "tests/support/child_process.h"
#include "platform/environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace updater {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUpdater = "Upgrading.exe";
constexpr const char* kList = kProgramFilesListName;
// The user's catalogue: far larger than the program, and never the program's to copy.
constexpr std::size_t kCatalogueBytes = 4 * 1024 * 1024;

std::string Client() { return platform::ProgramFileIn({}, kClientProgramName).string(); }

void Write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The files under folder, relative and with "/", in order.
std::vector<std::string> FilesUnder(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) files.push_back(fs::relative(it->path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// An install folder as the installer leaves it and the user fills it: the program's files, a working folder's data,
// a file of the user's. Links are made from the machine's POSIX side; Wine 8 shows a Windows program such a link to
// a folder as a reparse point, but a link to a file as the file itself, so those rows are not seen under Wine.
TEST(Staging, CopiesTheProgramsOwnFilesAndNothingElse) {
  struct Case {
    const char* label;
    std::optional<std::string> list;  // nothing: no list
    const char* before;               // shell command run in the install folder
    std::vector<std::string> staged;  // empty: refused
    bool seenUnderWine = true;
  };
  const std::string listed = std::string(kUpdater) + "\n" + Client() +
                             "\nQt6Core.dll\nplatforms/qwindows.dll\ntranslations/qt_zh_CN.qm\n";
  const std::vector<std::string> fromList = {"Qt6Core.dll", kUpdater, "platforms/qwindows.dll", kList,
                                             "translations/qt_zh_CN.qm"};
  const std::vector<std::string> beside = {"Qt6Core.dll", kUpdater, "platforms/qwindows.dll"};
  const Case cases[] = {
      {"the list's files but the client, and the list", listed, "true", fromList},
      {"a list written on Windows", "\xEF\xBB\xBFUpgrading.exe\r\nQt6Core.dll\r\n", "true",
       {"Qt6Core.dll", kUpdater, kList}},
      {"a listed file the folder lacks is passed over", "Qt6Gui.dll\nQt6Core.dll\n", "true",
       {"Qt6Core.dll", kUpdater, kList}},
      {"no list: the updater, the libraries and plug-ins beside it", std::nullopt, "true", beside},
      {"no list, and a library that is a link", std::nullopt, "ln -s ../outside.dll linked.dll", beside, false},
      {"an entry climbing out", "../outside.dll\n", "true", {}},
      {"an entry climbing out halfway", "platforms/../../outside.dll\n", "true", {}},
      {"an absolute entry", "/etc/hostname\n", "true", {}},
      {"a drive", "C:/Windows/win.ini\n", "true", {}},
      {"Windows separators", "platforms\\qwindows.dll\n", "true", {}},
      {"a folder", "platforms\n", "true", {}},
      {"a link to a file outside", "linked.dll\n", "ln -s ../outside.dll linked.dll", {}, false},
      {"a file through a linked folder", "plugins/outside.dll\n", "ln -s .. plugins", {}},
      {"the list a link", std::nullopt, "ln -s ../outside.dll program-files.txt", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (!c.seenUnderWine && platform::RunsUnderWine()) continue;
    const testsupport::ScratchDirectory scratch;
    ASSERT_FALSE(scratch.Path().empty());
    const fs::path install = scratch.LocalPath("install");
    const fs::path updates = scratch.LocalPath("updates");
    Write(install / kUpdater, "this updater");
    Write(install / Client(), "the client");
    Write(install / "Qt6Core.dll", "toolkit");
    Write(install / "platforms" / "qwindows.dll", "platform plug-in");
    Write(install / "translations" / "qt_zh_CN.qm", "translation");
    Write(install / "data" / "data.mdb", std::string(kCatalogueBytes, 'c'));
    Write(install / "DownLoad" / "paper.doc", "a paper");
    Write(install / "readme.txt", "the user's note");
    Write(scratch.LocalPath("outside.dll"), "not the program's");
    if (c.list) Write(install / kList, *c.list);
    ASSERT_TRUE(testsupport::RunCommand("cd '" + scratch.Path() + "/install' && " + c.before));

    const std::optional<fs::path> copy = StageProgramFiles(install, install / kUpdater, updates);
    if (c.staged.empty()) {
      EXPECT_FALSE(copy.has_value());
      EXPECT_TRUE(FilesUnder(updates).empty()) << "what was copied is removed";
      continue;
    }
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->filename(), fs::path(kUpdater));
    const fs::path staging = copy->parent_path();
    EXPECT_EQ(staging.parent_path(), updates / kStagingFolderName);
    EXPECT_EQ(FilesUnder(staging), c.staged);
    for (const std::string& file : FilesUnder(staging)) EXPECT_EQ(Read(staging / file), Read(install / file)) << file;
  }
}

}  // namespace
}  // namespace updater
