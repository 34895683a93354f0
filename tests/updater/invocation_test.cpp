#include "updater/staging.h"

#include "platform/program_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace updater {
namespace {

using Kind = Invocation::Kind;

// A folder that is absolute on the system the test runs on ("C:\\..." on Windows, "/..." elsewhere).
std::u16string Absolute(std::u16string_view relative) {
  return (std::filesystem::temp_directory_path() / std::filesystem::path(relative)).lexically_normal().u16string();
}

TEST(UpdaterArguments, OnlyNoneOrAnAbsoluteInstallFolderAreTaken) {
  struct Case {
    const char* label;
    std::vector<std::u16string> arguments;
    Kind kind;
    std::u16string folder;
  };
  const Case cases[] = {
      {"as the client starts it", {}, Kind::kInPlace, u""},
      {"a staged copy", {kInstallFolderOption, Absolute(u"vextal")}, Kind::kStaged, Absolute(u"vextal")},
      {"a folder with blanks and Chinese", {kInstallFolderOption, Absolute(u"题库 程序")}, Kind::kStaged,
       Absolute(u"题库 程序")},
      {"dots folded", {kInstallFolderOption, Absolute(u"x") + u"/../vextal"}, Kind::kStaged, Absolute(u"vextal")},
      {"option without a folder", {kInstallFolderOption}, Kind::kInvalid, u""},
      {"empty folder", {kInstallFolderOption, u""}, Kind::kInvalid, u""},
      {"relative folder", {kInstallFolderOption, u"vextal"}, Kind::kInvalid, u""},
      {"another option", {u"--folder", Absolute(u"vextal")}, Kind::kInvalid, u""},
      {"one more argument", {kInstallFolderOption, Absolute(u"vextal"), u"x"}, Kind::kInvalid, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Invocation invocation = ParseInvocation(c.arguments);
    EXPECT_EQ(invocation.kind, c.kind);
    EXPECT_EQ(invocation.installFolder, std::filesystem::path(c.folder));
  }
  // What a staging start passes is what a staged copy reads.
  const std::filesystem::path folder(Absolute(u"题库 程序"));
  EXPECT_EQ(ParseInvocation(StagedArguments(folder)).installFolder, folder);
}

// Windows' C runtime splits the command line back into these arguments; an NSIS installer reads "/D=" as its tail.
TEST(UpdaterArguments, TheCommandLineQuotesWhatWindowsWouldSplitAndLeavesTheInstallFolderAsWritten) {
  struct Case {
    const char* label;
    std::vector<std::u16string> arguments;
    bool lastVerbatim;
    std::u16string line;
  };
  const Case cases[] = {
      {"plain", {u"/S"}, false, u"\"C:\\P Q\\setup.exe\" /S"},
      {"blank", {u"a b"}, false, u"\"C:\\P Q\\setup.exe\" \"a b\""},
      {"empty", {u""}, false, u"\"C:\\P Q\\setup.exe\" \"\""},
      {"quote", {u"a\"b"}, false, u"\"C:\\P Q\\setup.exe\" \"a\\\"b\""},
      {"backslashes before the closing quote", {u"C:\\a b\\"}, false, u"\"C:\\P Q\\setup.exe\" \"C:\\a b\\\\\""},
      {"backslashes inside stay single", {u"C:\\a\\b"}, false, u"\"C:\\P Q\\setup.exe\" C:\\a\\b"},
      {"install folder as written", {u"/S", u"/D=C:\\Program Files\\Vextal"}, true,
       u"\"C:\\P Q\\setup.exe\" /S /D=C:\\Program Files\\Vextal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    platform::Launch launch{std::filesystem::path(u"C:\\P Q\\setup.exe"), c.arguments, c.lastVerbatim, {}};
    EXPECT_EQ(platform::CommandLineOf(launch), c.line);
  }
}

}  // namespace
}  // namespace updater
