#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Starting one program from another with arguments and a working folder, as the updater starts the installer, its
// own staged copy and the client. Declared on every OS.
namespace platform {

struct Launch {
  std::filesystem::path program;          // a full path: nothing is searched for
  std::vector<std::u16string> arguments;  // quoted on Windows as its C runtime splits them
  // The last argument goes onto the Windows command line exactly as written, blanks and all: an NSIS installer reads
  // its "/D=" only as the command line's unquoted tail. Elsewhere it is one argument like the others.
  bool lastArgumentVerbatim = false;
  std::filesystem::path workingFolder;    // empty: this process's current directory
};

// The command line CreateProcess receives for a launch: the program quoted, then each argument quoted where it has
// to be (a blank, a tab, a quote, or empty), backslashes doubled only before a quote.
std::u16string CommandLineOf(const Launch& launch);

// Starts the program with its window shown as usual and returns at once; false when it could not be started.
bool StartProgram(const Launch& launch);

class HeldFile;

// A wait without a limit: the program ends by itself or by the user.
inline constexpr std::chrono::milliseconds kNoRunLimit = std::chrono::milliseconds::max();

// How long a program run to its end may take, and the caller's turn while it runs.
struct RunLimits {
  std::chrono::milliseconds limit = kNoRunLimit;
  // Called every few milliseconds while the program runs: the caller keeps its window alive here.
  std::function<void()> whileWaiting;
  // Asked right after each whileWaiting: true (the user's cancel) ends the program.
  std::function<bool()> stopRequested;
};

struct RunOutcome {
  enum class End {
    kExited,      // it ended by itself, with exitCode
    kNotStarted,  // it could not be started, or its end could not be learnt
    kTimedOut,    // it still ran at the limit
    kStopped,     // the caller asked it to stop
  };
  End end = End::kNotStarted;
  int exitCode = 0;  // ended by a signal: 128 plus it
};

// Starts the program and waits for it to end, within the limits. A program that times out or is stopped is killed,
// with whatever it started and still runs (its job on Windows, its process group elsewhere), and is gone when this
// returns, so nothing of it writes anything afterwards. One that ends by itself at the last moment counts as ended.
RunOutcome RunWithin(const Launch& launch, const RunLimits& limits);

// The same for the file held: what runs is that file, whatever its path names by then (launch.program is not read).
// Windows starts it by its path, which nobody can change while it is held; Linux starts the open file itself
// (/proc/self/fd). Where the process has no /proc, the path is started after checking that it still names the held
// file, which leaves that short moment open.
RunOutcome RunWithin(const HeldFile& program, const Launch& launch, const RunLimits& limits);

// RunWithin without a limit or a stop: the exit code; nothing when the program could not be started.
std::optional<int> RunAndWait(const Launch& launch, const std::function<void()>& whileWaiting);

// The file of the running program.
std::filesystem::path OwnProgramFile();

// The file a program of this name has in a folder: "name.exe" on Windows, "name" elsewhere.
std::filesystem::path ProgramFileIn(const std::filesystem::path& folder, std::string_view name);

// Whether the file of a running program, or a library it loaded, cannot be replaced until it ends: true on Windows;
// elsewhere a file in use is replaced by a new one under its name while the old lives on unnamed.
bool RunningProgramFilesAreLocked();

// Whether a text file starting "#!" runs as a program through the interpreter it names (POSIX), rather than not at all.
bool ScriptsRunByTheirFirstLine();

// A downloaded program file may be run: the owner's execute permission where the OS has one.
bool MakeRunnable(const std::filesystem::path& file);

}  // namespace platform
