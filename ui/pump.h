#pragma once

namespace ui {

// Lets the network layer serve the UI event queue while a request waits (net::PumpPolicy); call once on the UI
// thread, which it records as such, before the first request.
void InstallPumpDispatcher();

}  // namespace ui
