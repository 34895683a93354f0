#pragma once

#include "platform/desktop.h"

// A program started with its window hidden (the client starts the updater with SW_HIDE) gets that hidden state for
// its first ShowWindow on Windows, whatever the toolkit asks for: a window the toolkit thinks shown stays unseen.
namespace platform {

// Shows the window normally and brings it forward, after the toolkit's own show. Where the toolkit's show is the real
// one (anywhere but Windows) nothing happens and it answers false.
bool ShowForReal(WindowHandle window);

}  // namespace platform
