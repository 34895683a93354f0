#include "platform/desktop.h"

#include "platform/hidden_file.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

// The shell open and the error box cannot run here: Wine without a display has no window to own them, and a real box
// would wait for a click. They are compiled and linked with the rest; the hide animation can at least be asked to
// animate no window (on POSIX it never animates).
namespace platform {
namespace {

TEST(Desktop, HideAnimationOfNoWindowFailsAtOnceSoTheCallerHidesItself) {
  EXPECT_FALSE(AnimateHide(nullptr, 900));
  EXPECT_FALSE(AnimateHide(nullptr, -1));
  // Linked, not called.
  volatile auto open = &OpenWithShell;
  volatile auto box = &ShowStopBox;
  EXPECT_TRUE(open != nullptr && box != nullptr);
}


// The program's folder in the download folder ("DownLoad/.vextal") stays out of the user's listings on every OS.
TEST(Desktop, TheProgramsOwnFolderIsHidden) {
  namespace fs = std::filesystem;
  const testsupport::ScratchFolder scratch("vextal-hidden-");
  ASSERT_FALSE(scratch.Path().empty());
  const fs::path root = scratch.Path();
  fs::create_directories(root / ".vextal");
  struct Case {
    const char* name;
    bool hidden;
  };
  const Case cases[] = {{".vextal", true}, {"missing", false}};
  for (const Case& c : cases) {
    EXPECT_EQ(HideFromListings(root / c.name), c.hidden) << c.name;
    EXPECT_EQ(IsHiddenFromListings(root / c.name), c.hidden) << c.name;
  }
}

}  // namespace
}  // namespace platform
