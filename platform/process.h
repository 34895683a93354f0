#pragma once

#include <string_view>

namespace platform {

// Starts a program by name, with no arguments and its window hidden, and returns at once without waiting for it.
// A bare name is searched the way Windows searches it for CreateProcess: the running program's own folder first, then
// (Windows) the current directory and the system folders, then the search path. Returns whether the platform
// accepted the start; the program update does not look.
bool StartHidden(std::u16string_view program);

// Whether StartHidden's search would find a program of this name.
bool ProgramExists(std::u16string_view program);

}  // namespace platform
