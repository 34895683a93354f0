#include "net/pump_policy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "net/http_client.h"
#include "net/http_error.h"
#include "tests/support/loopback_server.h"

namespace net {
namespace {

struct DispatcherLog {
  int calls = 0;
  DispatcherLog() {
    SetPumpDispatcher([this] { ++calls; });
  }
  ~DispatcherLog() { SetPumpDispatcher({}); }
};

TEST(PumpPolicy, TheLastCreatedIsInForceAndDestroyingAnyLeavesNone) {
  EXPECT_EQ(PumpPolicy::InForce(), nullptr);
  auto first = std::make_unique<PumpPolicy>();
  EXPECT_EQ(PumpPolicy::InForce(), first.get());
  auto second = std::make_unique<PumpPolicy>();
  EXPECT_EQ(PumpPolicy::InForce(), second.get());
  first.reset();
  EXPECT_EQ(PumpPolicy::InForce(), nullptr);
  second.reset();
  EXPECT_EQ(PumpPolicy::InForce(), nullptr);

  PumpPolicy defaults;
  EXPECT_TRUE(defaults.Active());
  EXPECT_EQ(defaults.IdleTimeOut(), 40);
  EXPECT_TRUE(defaults.OnlyWhenIdle());
}

TEST(PumpRequest, RunsOnlyWhenThePolicyAllowsIt) {
  struct Case {
    const char* label;
    bool active, onlyWhenIdle, idle;
    int calls;
  };
  const Case cases[] = {
      {"idle wait", true, true, true, 1},
      {"busy wait, only when idle", true, true, false, 0},
      {"busy wait, always", true, false, false, 1},
      {"inactive", false, false, true, 0},
  };
  for (const Case& c : cases) {
    PumpPolicy policy;
    policy.SetActive(c.active);
    policy.SetOnlyWhenIdle(c.onlyWhenIdle);
    DispatcherLog log;
    PumpRequest(c.idle);
    EXPECT_EQ(log.calls, c.calls) << c.label;
  }
}

TEST(PumpRequest, DoesNothingWithoutPolicyOrOffTheUiThread) {
  DispatcherLog log;
  PumpRequest(true);
  EXPECT_EQ(log.calls, 0);
  PumpPolicy policy;
  std::thread other([] {
    EXPECT_FALSE(IsUiThread());
    PumpRequest(true);
  });
  other.join();
  EXPECT_EQ(log.calls, 0);
  EXPECT_TRUE(IsUiThread());
}

TEST(PumpRequest, AnErrorEscapingTheDispatcherDoesNotReachTheRequest) {
  PumpPolicy policy;
  policy.SetIdleTimeOut(20);
  int calls = 0;
  SetPumpDispatcher([&] {
    ++calls;
    throw std::runtime_error("handler failed");
  });
  testsupport::LoopbackServer server;
  server.Enqueue({testsupport::Action::Pause(100), testsupport::Action::Send(testsupport::OkResponse("done"))});
  HttpClient client;
  EXPECT_EQ(client.GetText(server.Url("/")), "done");
  EXPECT_GE(calls, 2);
  SetPumpDispatcher({});
}

TEST(WaitSlices, ALimitedWaitIsCutIntoIdleTimeOutSlicesWithAPumpAfterEach) {
  PumpPolicy policy;
  policy.SetIdleTimeOut(25);
  DispatcherLog log;
  testsupport::LoopbackServer server;
  server.Enqueue({testsupport::Action::Send(testsupport::OkResponse("open"))});
  server.Enqueue({testsupport::Action::Hold()});
  HttpClient client;
  // The connection is opened first, so the count below does not depend on how long a connect takes (under Wine
  // and a busy machine it can take longer than one 25 ms slice).
  EXPECT_EQ(client.GetText(server.Url("/")), "open");
  log.calls = 0;
  client.ReadTimeout = 60;
  auto start = std::chrono::steady_clock::now();
  try {
    client.GetText(server.Url("/"));
    ADD_FAILURE() << "a silent server must time out";
  } catch (const HttpClientError& error) {
    EXPECT_EQ(error.Kind(), ErrorKind::ReadTimedOut);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  // One pump after the keep-alive probe's 1 ms wait, then one after each wait of 10, 25 and 25 ms.
  EXPECT_EQ(log.calls, 4);
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_GE(elapsed, std::chrono::milliseconds(60));
}

}  // namespace
}  // namespace net
