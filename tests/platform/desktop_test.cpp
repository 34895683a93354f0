#include "platform/desktop.h"

#include <gtest/gtest.h>

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
