#include "platform/window_show.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

bool ShowForReal(WindowHandle window) {
#ifdef _WIN32
  const HWND handle = static_cast<HWND>(window);
  if (!IsWindow(handle)) return false;
  // The toolkit's show was the process's first ShowWindow, which took the starter's SW_HIDE; this second one is
  // taken as asked.
  ShowWindow(handle, SW_SHOWNORMAL);
  SetForegroundWindow(handle);
  return IsWindowVisible(handle) != FALSE;
#else
  (void)window;
  return false;
#endif
}

}  // namespace platform
