#include "platform/desktop.h"

#include <cstdlib>

#ifdef _WIN32

#include "platform/utf.h"

#include <string>

#include <windows.h>
#include <shellapi.h>

namespace platform {

ShellAnswer OpenWithShell(std::u16string_view target, WindowHandle owner, ShowCommand show) {
  const std::wstring wideTarget = WideFromUtf16(target);
  const HINSTANCE result = ShellExecuteW(static_cast<HWND>(owner), nullptr, wideTarget.c_str(), nullptr, nullptr,
                                         show == ShowCommand::kShow ? SW_SHOW : SW_SHOWNORMAL);
  // ShellExecute's documented success test: a value above 32.
  constexpr INT_PTR kLastErrorValue = 32;
  return reinterpret_cast<INT_PTR>(result) > kLastErrorValue ? ShellAnswer::kAccepted : ShellAnswer::kRefused;
}

bool ShowStopBox(std::u16string_view caption, std::u16string_view text, WindowHandle owner, BoxModality modality) {
  const std::wstring wideCaption = WideFromUtf16(caption);
  const std::wstring wideText = WideFromUtf16(text);
  UINT style = MB_OK | MB_ICONERROR;
  if (modality == BoxModality::kTaskModal) style |= MB_TASKMODAL;
  MessageBoxW(modality == BoxModality::kTaskModal ? nullptr : static_cast<HWND>(owner), wideText.c_str(),
              wideCaption.c_str(), style);
  return true;
}

bool AnimateHide(WindowHandle window, int durationMs) {
  if (durationMs < 0) return false;
  return AnimateWindow(static_cast<HWND>(window), static_cast<DWORD>(durationMs), AW_HIDE | AW_CENTER) != 0;
}

void EndProcessNow(int exitCode) {
  // The C runtime's _Exit still lets DLLs run their detach code, which can hang on a lock another thread holds.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  std::_Exit(exitCode);
}

}  // namespace platform

#else

namespace platform {

ShellAnswer OpenWithShell(std::u16string_view, WindowHandle, ShowCommand) { return ShellAnswer::kNotHandled; }

bool ShowStopBox(std::u16string_view, std::u16string_view, WindowHandle, BoxModality) { return false; }

bool AnimateHide(WindowHandle, int) { return false; }

void EndProcessNow(int exitCode) { std::_Exit(exitCode); }

}  // namespace platform

#endif
