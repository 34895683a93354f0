#pragma once

#include <string_view>

// The Win32 calls behind the windows' shell, error box and hide animation. Declared on every OS: where the toolkit
// does the job itself (ui/seams, ui/hide_animation, app/startup), the call answers "not handled" and the caller
// takes the toolkit's road.
namespace platform {

// A window handle (HWND) carried without the header that defines it; nullptr for none.
using WindowHandle = void*;

// The link label opens a web address with SW_SHOW, a downloaded paper is opened with SW_SHOWNORMAL.
enum class ShowCommand { kShow, kShowNormal };

enum class ShellAnswer { kAccepted, kRefused, kNotHandled };

// The shell's default action (no verb, no parameters) on a file or web address, owned by owner. The program does not
// report a refusal.
ShellAnswer OpenWithShell(std::u16string_view target, WindowHandle owner, ShowCommand show);

// The default error report is owned by the active window; the start-up error box, shown before any window exists,
// is task-modal instead.
enum class BoxModality { kOwned, kTaskModal };

// A message box with the stop icon and one OK button; returns when the user has dismissed it, true, or at once with
// false where the platform has no such box of its own.
bool ShowStopBox(std::u16string_view caption, std::u16string_view text, WindowHandle owner, BoxModality modality);

// The system's hide animation, collapsing the window toward its centre; blocks for durationMs. Returns false when
// the call failed (no such window) or the platform has none, and the caller hides the window its own way.
bool AnimateHide(WindowHandle window, int durationMs);

// Ends the process at once with this exit code, running no destructors and no handlers registered to run at exit.
[[noreturn]] void EndProcessNow(int exitCode);

}  // namespace platform
