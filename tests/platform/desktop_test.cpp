#include "platform/desktop.h"

#include "platform/hidden_file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <system_error>

// The shell open and the error box cannot run here: Wine without a display has no window to own them, and a real box
// would wait for a click. They are compiled and linked with the rest; the hide animation can at least be asked to
// animate no window.
#ifdef _WIN32
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

}  // namespace
}  // namespace platform
#endif

namespace platform {
namespace {

// The program's folder in the download folder ("DownLoad/.vextal") stays out of the user's listings on every OS.
TEST(Desktop, TheProgramsOwnFolderIsHidden) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "vextal-hidden-folder";
  std::error_code ignored;
  fs::remove_all(root, ignored);
  fs::create_directories(root / ".vextal");
  struct Case {
    const char* name;
    bool hidden;
  };
  const Case cases[] = {{".vextal", true}, {"missing", false}};
  for (const Case& c : cases) EXPECT_EQ(HideFromListings(root / c.name), c.hidden) << c.name;
#ifdef _WIN32
  EXPECT_NE(GetFileAttributesW((root / ".vextal").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
#endif
  fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace platform
