// Started hidden by the process test, with no arguments, in a scratch current directory: says it runs, then waits
// for the test's word before it ends, so the test can see that the start did not wait for it.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

constexpr const char* kStartedFile = "started";
constexpr const char* kReleaseFile = "release";
constexpr const char* kFinishedFile = "finished";
// A probe whose test died must not linger.
constexpr auto kGiveUpAfter = std::chrono::seconds(60);
constexpr auto kPollEvery = std::chrono::milliseconds(10);

}  // namespace

int main() {
  std::ofstream(kStartedFile) << "started\n";
  const auto giveUp = std::chrono::steady_clock::now() + kGiveUpAfter;
  while (!std::filesystem::exists(kReleaseFile)) {
    if (std::chrono::steady_clock::now() > giveUp) return 1;
    std::this_thread::sleep_for(kPollEvery);
  }
  std::ofstream(kFinishedFile) << "finished\n";
  return 0;
}
