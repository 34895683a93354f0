#include "ui/pump.h"

#include "net/pump_policy.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace ui {

void InstallPumpDispatcher() {
  // One pass of the event dispatcher delivers everything already waiting: posted events, window-system input and
  // expired timers.
  net::SetPumpDispatcher([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

}  // namespace ui
