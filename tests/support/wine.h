#pragma once

namespace testsupport {

// True when a Windows build runs under Wine rather than on Windows. Wine's Winsock differs from Windows in a few
// observable ways; the tests that meet one say which and why next to their use of this.
bool RunningUnderWine();

}  // namespace testsupport
