#include "net/background_wait.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/pump_policy.h"

namespace net {
namespace {

// Without a pump nobody is served between slices; the slice only bounds how late a stop is seen.
constexpr int kUnpumpedSliceMs = 50;

struct Job {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

int SliceMs() {
  PumpPolicy* policy = PumpPolicyInForceHere() ? PumpPolicy::InForce() : nullptr;
  const int idle = policy != nullptr ? policy->IdleTimeOut() : kUnpumpedSliceMs;
  return std::max(1, idle);
}

}  // namespace

bool WaitOnBackgroundThread(std::function<void()> work, int limitMs, const std::function<bool()>& stop) {
  auto job = std::make_shared<Job>();
  std::thread worker;
  try {
    worker = std::thread([job, work = std::move(work)] {
      work();
      {
        std::lock_guard<std::mutex> lock(job->mutex);
        job->finished = true;
      }
      job->done.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  worker.detach();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(job->mutex);
      const auto left = deadline - std::chrono::steady_clock::now();
      const auto slice = std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(SliceMs()));
      if (job->done.wait_for(lock, slice, [&job] { return job->finished; })) return true;
    }
    PumpRequest(true);
    if (stop && stop()) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      std::lock_guard<std::mutex> lock(job->mutex);
      return job->finished;
    }
  }
}

}  // namespace net
