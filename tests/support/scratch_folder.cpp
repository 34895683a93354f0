#include "tests/support/scratch_folder.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <system_error>

namespace testsupport {
namespace {

constexpr int kNameTries = 100;

}  // namespace

ScratchFolder::ScratchFolder(const std::string& prefix) {
  std::random_device entropy;
  // Mixed with the clock: some toolchains' random_device repeats its sequence from run to run.
  const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::mt19937_64 names(entropy() ^ ticks);
  for (int attempt = 0; attempt < kNameTries && m_path.empty(); ++attempt) {
    const std::filesystem::path candidate = std::filesystem::temp_directory_path() / (prefix + std::to_string(names()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) m_path = candidate;
  }
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

}  // namespace testsupport
