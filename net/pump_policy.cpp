#include "net/pump_policy.h"

#include <memory>
#include <mutex>
#include <thread>

namespace net {

namespace {

std::atomic<PumpPolicy*> g_inForce{nullptr};

using Dispatcher = std::function<void()>;

std::mutex g_dispatcherMutex;
std::shared_ptr<const Dispatcher> g_dispatcher;
std::atomic<std::thread::id> g_uiThread{std::thread::id()};

}  // namespace

PumpPolicy::PumpPolicy() { g_inForce.store(this); }

PumpPolicy::~PumpPolicy() { g_inForce.store(nullptr); }

PumpPolicy* PumpPolicy::InForce() { return g_inForce.load(); }

void SetPumpDispatcher(std::function<void()> dispatcher) {
  std::lock_guard<std::mutex> lock(g_dispatcherMutex);
  if (dispatcher) {
    g_dispatcher = std::make_shared<const Dispatcher>(std::move(dispatcher));
    g_uiThread.store(std::this_thread::get_id());
  } else {
    g_dispatcher.reset();
    g_uiThread.store(std::thread::id());
  }
}

bool IsUiThread() {
  std::thread::id ui = g_uiThread.load();
  return ui != std::thread::id() && ui == std::this_thread::get_id();
}

bool PumpPolicyInForceHere() { return PumpPolicy::InForce() != nullptr && IsUiThread(); }

void PumpRequest(bool idle) {
  PumpPolicy* policy = PumpPolicy::InForce();
  if (policy == nullptr || !IsUiThread() || !policy->Active()) return;
  if (!idle && policy->OnlyWhenIdle()) return;
  std::shared_ptr<const Dispatcher> dispatcher;
  {
    std::lock_guard<std::mutex> lock(g_dispatcherMutex);
    dispatcher = g_dispatcher;
  }
  if (!dispatcher) return;
  try {
    (*dispatcher)();
  } catch (...) {
    // The application's dispatcher reports handler errors itself; one that slips through must not end the request.
  }
}

}  // namespace net
