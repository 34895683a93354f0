#include "platform/program_run.h"

#include "platform/folder_lock.h"
#include "platform/held_file.h"
#include "tests/support/scratch_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace platform {
namespace {

namespace fs = std::filesystem;
using End = RunOutcome::End;

// What the lock holder answers a command line without its two arguments with.
constexpr int kHolderUsageExitCode = 2;
// The lock holder records it as its window; nothing reads it here.
constexpr const char16_t* kAnyWindow = u"1";
// Shorter than the first look at the clock can be: the limit has run out once the holder holds its lock.
constexpr std::chrono::milliseconds kRunOutAtOnce(1);
// The holder gives up by itself after a minute, so a failed start does not wait forever either.
constexpr auto kHoldDeadline = std::chrono::seconds(60);

bool Holds(const fs::path& lockFile) { return ReadRecordedWindow(lockFile).has_value(); }

void WaitUntilHeld(const fs::path& lockFile) {
  const auto deadline = std::chrono::steady_clock::now() + kHoldDeadline;
  // Looked at again as soon as the system lets this thread run: the wait is for the holder, never for a set time.
  while (!Holds(lockFile) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
}

// Whatever ends the wait, the installer is gone afterwards: its lock is free at once, so nothing of it runs on to
// write into the program's folder.
TEST(RunWithin, EndsByItselfAtTheLimitOrWhenStopped) {
  struct Case {
    const char* label;
    bool holds;  // the holder is told to hold the lock until it is killed; otherwise it ends at once
    bool there;
    std::chrono::milliseconds limit;
    bool stopWhenHeld;
    End end;
    int exitCode;
  };
  const Case cases[] = {
      {"ends by itself with its code", false, true, kNoRunLimit, false, End::kExited, kHolderUsageExitCode},
      {"a program that is not there", false, false, kNoRunLimit, false, End::kNotStarted, 0},
      {"still running at the limit", true, true, kRunOutAtOnce, false, End::kTimedOut, 0},
      {"stopped by the user", true, true, kNoRunLimit, true, End::kStopped, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const testsupport::ScratchFolder scratch("vextal-run-within-");
    const fs::path lockFile = scratch.Path() / "data" / "vextal.lock";
    Launch launch;
    launch.program = c.there ? fs::path(LOCK_HOLDER_PATH) : scratch.Path() / "no-such-program";
    if (c.holds) launch.arguments = {lockFile.u16string(), kAnyWindow};
    RunLimits limits;
    limits.limit = c.limit;
    limits.whileWaiting = [&] {
      if (c.holds) WaitUntilHeld(lockFile);
    };
    if (c.stopWhenHeld) limits.stopRequested = [&] { return Holds(lockFile); };

    const RunOutcome outcome = RunWithin(launch, limits);
    EXPECT_EQ(outcome.end, c.end);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    if (c.holds) {
      FolderLock lock;
      EXPECT_EQ(lock.Acquire(lockFile), FolderLock::Outcome::kHeld);
    }
  }
}

// A script executed through its open file is read again by its interpreter: the file must stay open across the exec.
constexpr const char* kScript = "#!/bin/sh\nexit 5\n";
constexpr int kScriptExitCode = 5;

// The installer checked is the installer run, even when its path names another file by the time it starts (where
// the OS lets anyone rename over a held file at all).
TEST(RunWithin, StartsTheFileHeldWhateverItsPathNamesByThen) {
  struct Case {
    const char* label;
    const char* script;  // nothing: a copy of the lock holder
    bool replaced;       // another file is renamed over its path while it is held
    bool held;
    End end;
    int exitCode;
  };
  const Case cases[] = {
      {"the program held", nullptr, false, true, End::kExited, kHolderUsageExitCode},
      {"another file renamed over its path meanwhile", nullptr, true, true, End::kExited, kHolderUsageExitCode},
      {"a script", kScript, false, true, End::kExited, kScriptExitCode},
      {"nothing held", nullptr, false, false, End::kNotStarted, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.script && !ScriptsRunByTheirFirstLine()) continue;
    const testsupport::ScratchFolder scratch("vextal-run-held-");
    const fs::path installer = ProgramFileIn(scratch.Path(), "setup");
    if (c.script) {
      std::ofstream(installer, std::ios::binary) << c.script;
    } else {
      fs::copy_file(LOCK_HOLDER_PATH, installer);
    }
    ASSERT_TRUE(MakeRunnable(installer));
    HeldFile held;
    if (c.held) {
      ASSERT_TRUE(held.Open(installer));
    }
    if (c.replaced) {
      std::ofstream(scratch.Path() / "other", std::ios::binary) << "not a program";
      std::error_code error;
      fs::rename(scratch.Path() / "other", installer, error);
      EXPECT_EQ(!error, !HeldFile::DeniesOthers());
    }
    Launch launch;
    launch.workingFolder = scratch.Path();
    const RunOutcome outcome = RunWithin(held, launch, {});
    EXPECT_EQ(outcome.end, c.end);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
  }
}

}  // namespace
}  // namespace platform
