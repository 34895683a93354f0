#include "ui/pump.h"

#include "net/pump_policy.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace ui {

void InstallPumpDispatcher() {
  // One pass of the event dispatcher delivers everything already waiting: posted events, window-system input and
  // expired timers. The toolkit has no call for exactly one event, so the "at most one" step takes the same pass.
  net::SetPumpDispatcher([](bool /*dispatchAll*/) { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

}  // namespace ui
