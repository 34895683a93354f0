#include "updater/staging.h"

#include "platform/program_run.h"

#include <chrono>
#include <string>
#include <system_error>

namespace updater {
namespace {

namespace fs = std::filesystem;

// A fresh name is found within this many tries unless the folder cannot be written at all.
constexpr int kStagingNameTries = 100;

fs::path NewStagingFolder(const fs::path& parent) {
  const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < kStagingNameTries; ++attempt) {
    const fs::path candidate = parent / (std::to_string(ticks) + "-" + std::to_string(attempt));
    std::error_code error;
    // Made only where nothing stood: two updaters never share a staging folder.
    if (fs::create_directory(candidate, error)) return candidate;
  }
  return {};
}

}  // namespace

Invocation ParseInvocation(const std::vector<std::u16string>& arguments) {
  if (arguments.empty()) return {Invocation::Kind::kInPlace, {}};
  if (arguments.size() != 2 || arguments[0] != kInstallFolderOption || arguments[1].empty()) return {};
  const fs::path folder(arguments[1]);
  // A relative folder would be read against the working folder, which is the user's, not the program's.
  if (!folder.is_absolute()) return {};
  return {Invocation::Kind::kStaged, folder.lexically_normal()};
}

std::vector<std::u16string> StagedArguments(const fs::path& installFolder) {
  return {kInstallFolderOption, installFolder.u16string()};
}

std::optional<fs::path> StageProgramFiles(const fs::path& installFolder, const fs::path& program,
                                          const fs::path& updatesFolder) {
  const fs::path parent = updatesFolder / kStagingFolderName;
  std::error_code error;
  fs::create_directories(parent, error);
  const fs::path staging = NewStagingFolder(parent);
  if (staging.empty()) return std::nullopt;
  const fs::path client = platform::ProgramFileIn(installFolder, kClientProgramName).filename();
  for (const fs::directory_entry& entry : fs::directory_iterator(installFolder, error)) {
    if (entry.path().filename() == client) continue;
    fs::copy(entry.path(), staging / entry.path().filename(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) break;
  }
  const fs::path copy = staging / program.filename();
  if (error || !fs::is_regular_file(copy, error)) {
    fs::remove_all(staging, error);
    return std::nullopt;
  }
  return copy;
}

void RemoveStaleStaging(const fs::path& updatesFolder, const fs::path& runningFrom) {
  std::error_code error;
  const fs::path own = runningFrom.lexically_normal();
  for (const fs::directory_entry& entry : fs::directory_iterator(updatesFolder / kStagingFolderName, error)) {
    if (entry.path().lexically_normal() == own) continue;
    std::error_code ignored;
    fs::remove_all(entry.path(), ignored);
  }
}

}  // namespace updater
