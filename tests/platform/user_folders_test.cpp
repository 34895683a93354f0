#include "platform/user_folders.h"

#include "tests/support/child_process.h"
#include "platform/environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>


namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProductFolder = "Vextal";
constexpr const char* kUpdatesFolder = "Vextal/Updates";
// What the tests give a folder the program must not change, as the machine's POSIX side shows it.
constexpr const char* kOpenMode = "755";


// Set up from the machine's POSIX side, the same on Linux and under Wine: links and another owner cannot be made from
// Windows' side there.
std::string ModeOf(const std::string& hostPath) {
  std::string mode;
  if (!testsupport::RunCommand("stat -c %a '" + hostPath + "'", &mode)) return "(none)";
  while (!mode.empty() && (mode.back() == '\n' || mode.back() == '\r')) mode.pop_back();
  return mode;
}

TEST(MakePrivateFolders, EveryFolderOfTheProgramsBelowTheBaseIsTheUsersAlone) {
  struct Case {
    const char* label;
    const char* before;     // shell command run in the scratch folder; the base is "base" there
    bool made;
    bool onePath;           // through MakePrivateFolder with the full path
    const char* untouched;  // a folder the command set to kOpenMode that a refusal must leave so
    bool needsRoot = false;
  };
  const Case cases[] = {
      {"nothing there yet", "mkdir base", true, false, nullptr},
      {"nothing there yet, named as one path", "mkdir base", true, true, nullptr},
      {"the base missing too", "true", true, false, nullptr},
      {"the base a link, as a user who moved it has", "mkdir moved && ln -s moved base", true, false, nullptr},
      {"made earlier and open to all", "mkdir -p base/Vextal/Updates && chmod 777 base/Vextal base/Vextal/Updates",
       true, false, nullptr},
      {"the product's folder a link",
       "mkdir -p base elsewhere && chmod 755 elsewhere && ln -s ../elsewhere base/Vextal", false, false, "elsewhere"},
      {"the updates folder a link",
       "mkdir -p base/Vextal elsewhere && chmod 755 elsewhere && ln -s ../../elsewhere base/Vextal/Updates", false,
       false, "elsewhere"},
      {"a file where the updates folder goes", "mkdir -p base/Vextal && : > base/Vextal/Updates", false, false,
       nullptr},
      {"another user's product folder", "mkdir -p base/Vextal && chmod 755 base/Vextal && chown 65534 base/Vextal",
       false, false, "base/Vextal", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const testsupport::ScratchDirectory scratch;
    ASSERT_FALSE(scratch.Path().empty());
    if (!testsupport::RunCommand("cd '" + scratch.Path() + "' && " + c.before)) {
      ASSERT_TRUE(c.needsRoot) << "could not set up: " << c.before;
      continue;  // only root can give a folder away
    }
    const fs::path base = scratch.LocalPath("base");
    const bool made = c.onePath ? MakePrivateFolder(base / fs::path(kUpdatesFolder).make_preferred())
                                : MakePrivateFolders({base, fs::path(kUpdatesFolder).make_preferred()});
    EXPECT_EQ(made, c.made);
    // Wine 8 takes an access list for a file or folder, answers success, and keeps nothing of it: what it reads back
    // is made up from the POSIX bits. There only the refusals can be seen.
    if (c.made && !platform::RunsUnderWine()) {
      EXPECT_TRUE(OnlyTheUserMayEnter(base / kProductFolder));
      EXPECT_TRUE(OnlyTheUserMayEnter(base / fs::path(kUpdatesFolder).make_preferred()));
    }
    if (c.untouched) {
      EXPECT_EQ(ModeOf(scratch.Path() + "/" + c.untouched), kOpenMode);
    }
  }
}

}  // namespace
}  // namespace platform
