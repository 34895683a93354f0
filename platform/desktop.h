#pragma once

#ifdef _WIN32

#include <string_view>

// The Win32 calls behind the windows' shell, error box and hide animation. Elsewhere the toolkit does these itself
// (ui/seams, ui/hide_animation, app/startup), so they exist only in the Windows build.
namespace platform {

// A window handle (HWND) carried without the header that defines it; nullptr for none.
using WindowHandle = void*;

// The link label opens a web address with SW_SHOW, a downloaded paper is opened with SW_SHOWNORMAL.
enum class ShowCommand { kShow, kShowNormal };

// The shell's default action (no verb, no parameters) on a file or web address, owned by owner. Returns whether the
// shell accepted it; the program does not report a failure.
bool OpenWithShell(std::u16string_view target, WindowHandle owner, ShowCommand show);

// The default error report is owned by the active window; the start-up error box, shown before any window exists,
// is task-modal instead.
enum class BoxModality { kOwned, kTaskModal };

// A message box with the stop icon and one OK button; returns when the user has dismissed it.
void ShowStopBox(std::u16string_view caption, std::u16string_view text, WindowHandle owner, BoxModality modality);

// The system's hide animation, collapsing the window toward its centre; blocks for durationMs. Returns false when
// the call failed (no such window), and the caller hides the window its own way.
bool AnimateHide(WindowHandle window, int durationMs);

}  // namespace platform

#endif
