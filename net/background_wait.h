#pragma once

#include <functional>

namespace net {

// Runs work on a thread of its own while the caller waits, in pump slices on the UI thread, until it is done, limitMs
// have passed, or stop (when given) says so. Returns whether work finished. A thread not finished is left to end on
// its own, so work must own everything it touches (a system call that cannot be interrupted may hold it for long).
// A process out of threads runs nothing and returns false.
bool WaitOnBackgroundThread(std::function<void()> work, int limitMs, const std::function<bool()>& stop);

}  // namespace net
