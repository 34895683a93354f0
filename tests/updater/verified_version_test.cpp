#include "updater/verified_version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace updater {
namespace {

namespace fs = std::filesystem;

// What stands at the file's place before a step.
enum class Before { kNothing, kText, kFolder };

TEST(VerifiedVersion, KeepsTheHighestAndReadsAnythingElseAsNone) {
  struct Case {
    const char* label;
    Before before;
    std::string text;                    // the file's bytes, for kText
    std::optional<std::string> remember;  // nothing: only read
    bool remembered;
    std::string expected;  // what the file reads as afterwards
  };
  const std::vector<Case> cases = {
      {"no file", Before::kNothing, "", std::nullopt, true, ""},
      {"as written", Before::kText, "3.2\n", std::nullopt, true, "3.2"},
      {"blanks around it", Before::kText, " 3.2\r\n", std::nullopt, true, "3.2"},
      {"not a version", Before::kText, "3.2 beta\n", std::nullopt, true, ""},
      {"two lines", Before::kText, "3.2\n3.3\n", std::nullopt, true, ""},
      {"empty", Before::kText, "", std::nullopt, true, ""},
      {"far too long", Before::kText, std::string(4096, '9'), std::nullopt, true, ""},
      {"a folder in its place", Before::kFolder, "", std::nullopt, true, ""},
      {"the first one", Before::kNothing, "", "3.2", true, "3.2"},
      {"a higher one", Before::kText, "3.2\n", "3.3", true, "3.3"},
      {"as numbers", Before::kText, "3.9\n", "3.10", true, "3.10"},
      {"a lower one", Before::kText, "3.2\n", "3.1.9", true, "3.2"},
      {"the same one", Before::kText, "3.2\n", "3.2.0", true, "3.2"},
      {"over a damaged file", Before::kText, "\x01garbage", "3.1", true, "3.1"},
      {"not a version", Before::kText, "3.2\n", "3.3-beta", false, "3.2"},
      {"cannot replace a folder", Before::kFolder, "", "3.3", false, ""},
  };
  const fs::path folder = fs::path(::testing::TempDir()) / "vextal_verified_version_test";
  const fs::path file = folder / kVerifiedVersionFile;
  for (const Case& c : cases) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (c.before == Before::kText) std::ofstream(file, std::ios::binary) << c.text;
    if (c.before == Before::kFolder) fs::create_directories(file / "inside");
    if (c.remember) {
      EXPECT_EQ(RememberVerified(file, *c.remember), c.remembered) << c.label;
    }
    EXPECT_EQ(ReadHighestVerified(file), c.expected) << c.label;
    // Whatever happened, no half-written file stays beside it.
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder)) entries += entry.path() == file ? 0 : 1;
    EXPECT_EQ(entries, 0U) << c.label;
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace updater
