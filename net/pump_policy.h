#pragma once

#include <atomic>
#include <functional>

namespace net {

// The process-wide message-pump policy: while a request waits on the network, the UI thread's event queue is served
// through the dispatcher the application installed, so windows repaint and timers fire although every request
// blocks its caller. The last PumpPolicy created is the one in force; destroying any leaves none in force.
class PumpPolicy {
 public:
  PumpPolicy();
  ~PumpPolicy();
  PumpPolicy(const PumpPolicy&) = delete;
  PumpPolicy& operator=(const PumpPolicy&) = delete;

  static PumpPolicy* InForce();

  // Whether the pump runs at all.
  bool Active() const { return m_active.load(); }
  void SetActive(bool active) { m_active.store(active); }
  // Length in ms of one wait slice while pumping.
  int IdleTimeOut() const { return m_idleTimeOut.load(); }
  void SetIdleTimeOut(int ms) { m_idleTimeOut.store(ms); }
  // true: pump after waits that found no data, and once a slice has passed since the last pump; false: after every
  // wait and every send call.
  bool OnlyWhenIdle() const { return m_onlyWhenIdle.load(); }
  void SetOnlyWhenIdle(bool value) { m_onlyWhenIdle.store(value); }

 private:
  std::atomic<bool> m_active{true};
  // Short enough that a window served between slices never looks stuck: 50 ms is where a pause starts to show, and a
  // slice's own overhead must stay inside it.
  std::atomic<int> m_idleTimeOut{40};
  std::atomic<bool> m_onlyWhenIdle{true};
};

// Installs the function that serves the UI event queue (every event already waiting) and records the calling thread
// as the UI thread. An empty function removes it.
void SetPumpDispatcher(std::function<void()> dispatcher);

// True on the thread that installed the dispatcher.
bool IsUiThread();

// True when a PumpPolicy is in force and the caller is the UI thread: waits are then cut into IdleTimeOut slices
// and connects run on a connect thread.
bool PumpPolicyInForceHere();

// Runs one pump step when an PumpPolicy is in force, the caller is the UI thread, it is Active, and idle is set or
// OnlyWhenIdle is false. Anything the dispatcher throws stays here: handlers report their own errors, and the
// waiting request must go on.
void PumpRequest(bool idle);

}  // namespace net
