#include "updater/file_digest.h"
#include "updater/update_description.h"

#include "net/http_text.h"
#include "platform/user_folders.h"
#include "tests/updater/demo_key.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace updater {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// The publisher's road: a key pair, a signed description of an installer, and the updater's check of it, by the tool
// and by the library the updater uses; with the tool refusing what would leave the publisher with nothing usable.
TEST(UpdateSign, KeygenDescribeVerifyRoad) {
  const fs::path work = fs::path(::testing::TempDir()) / "vextal_update_sign_test";
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path keys = work / "keys";
  const fs::path out = work / "out";
  const fs::path installer = work / "setup.exe";
  std::ofstream(installer, std::ios::binary) << std::string(70000, 'v') << "installer";
  const std::string tool = UPDATE_SIGN_PATH;
  const std::string secret = (keys / "update-secret.hex").string();
  const std::string demoPublic = std::string(VEXTAL_DEMO_KEY_DIR) + "/update-public.hex";
  const std::string describe = " --installer-path /updates/setup-3.2.exe --file " + installer.string() +
                               " --secret " + secret + " -o " + out.string();
  const std::string verify = " --dir " + out.string() + " --running 3.1 --origin http://127.0.0.1:8080";
  const std::string verifyOwn = "verify --public " + (keys / "update-public.hex").string() + verify;

  struct Step {
    const char* label;
    std::string arguments;
    bool succeeds;
  };
  const std::vector<Step> road = {
      {"a new key pair", "keygen " + keys.string(), true},
      {"never over an existing pair", "keygen " + keys.string(), false},
      {"a version that is not one", "describe --version 3.2b" + describe, false},
      {"a path that leaves the server", "describe --version 3.2 --installer-path /a/../b.exe --file " +
                                            installer.string() + " --secret " + secret + " -o " + out.string(),
       false},
      {"a missing option", "describe --version 3.2 --file " + installer.string(), false},
      {"an expiry that has passed", "describe --version 3.2 --expires 2020-01-01T00:00:00Z" + describe, false},
      {"no days", "describe --version 3.2 --expires 0d" + describe, false},
      {"an expiry that is not one", "describe --version 3.2 --expires 2030-01-01" + describe, false},
      {"the description", "describe --version 3.2" + describe, true},
      {"verified with its key, installer too",
       "verify --public " + (keys / "update-public.hex").string() + verify + " --file " + installer.string(), true},
      {"believed for 30 days by default", verifyOwn + " --at 29d", true},
      {"refused after them", verifyOwn + " --at 31d", false},
      {"refused with the demo key", "verify --public " + demoPublic + verify, false},
      {"refused by the updater it names", "verify --public " + (keys / "update-public.hex").string() + verify +
                                              " --running 3.2",
       false},
      {"an expiry of the publisher's", "describe --version 3.2 --expires 2999-01-01T00:00:00Z" + describe, true},
      {"believed until it", verifyOwn + " --at 2998-12-31T23:59:59Z", true},
      {"refused from it on", verifyOwn + " --at 2999-01-01T00:00:00Z", false},
  };
  const fs::path log = work / "log.txt";
  for (const Step& step : road) {
    const std::string command = tool + " " + step.arguments + " >" + log.string() + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()) == 0, step.succeeds) << step.label << ":\n" << ReadFile(log);
  }

  // The secret half is its owner's alone, where files have permission bits: on Windows only an access list, which
  // the tool does not set, could close the file to other users.
  if (platform::FilesHavePermissionBits()) {
    EXPECT_EQ(fs::status(secret).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  }
  const std::string publicHex = net::TrimBlanks(ReadFile(keys / "update-public.hex"));
  EXPECT_NE(publicHex, testsupport::DemoPublicKeyHex());
  const auto verdict = VerifyUpdate({.description = ReadFile(out / "vextal-update.txt"),
                                     .signature = ReadFile(out / "vextal-update.sig"),
                                     .publicKeyHex = publicHex,
                                     .runningVersion = "3.1",
                                     .origin = "http://127.0.0.1:8080"});
  const VerifiedUpdate* update = std::get_if<VerifiedUpdate>(&verdict);
  ASSERT_NE(update, nullptr) << RefusalText(std::get<Refusal>(verdict));
  EXPECT_EQ(update->installerUrl, "http://127.0.0.1:8080/updates/setup-3.2.exe");
  EXPECT_EQ(UtcTimeText(update->description.expiresUtcSeconds), "2999-01-01T00:00:00Z");
  EXPECT_EQ(update->description.size, fs::file_size(installer));
  EXPECT_TRUE(FileHasSha256(installer, update->description.sha256, update->description.size));
  fs::remove_all(work);
}

}  // namespace
}  // namespace updater
