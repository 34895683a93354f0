#include "ui/pump.h"

#include "net/pump_policy.h"

#include <QMetaObject>
#include <QObject>

#include <gtest/gtest.h>

namespace {

TEST(Pump, AWaitingRequestDeliversQueuedEvents) {
  net::PumpPolicy policy;
  ui::InstallPumpDispatcher();
  QObject receiver;
  int delivered = 0;
  QMetaObject::invokeMethod(&receiver, [&] { ++delivered; }, Qt::QueuedConnection);
  net::PumpRequest(/*idle=*/true);
  EXPECT_EQ(delivered, 1);
  net::SetPumpDispatcher({});
}

}  // namespace
