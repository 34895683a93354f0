#pragma once

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

// Starts the program and waits for it to end, calling whileWaiting every few milliseconds meanwhile (the caller keeps
// its window alive there). Its exit code; nothing when it could not be started. Ended by a signal: 128 plus it.
std::optional<int> RunAndWait(const Launch& launch, const std::function<void()>& whileWaiting);

// The file of the running program.
std::filesystem::path OwnProgramFile();

// The file a program of this name has in a folder: "name.exe" on Windows, "name" elsewhere.
std::filesystem::path ProgramFileIn(const std::filesystem::path& folder, std::string_view name);

// Whether the file of a running program, or a library it loaded, cannot be replaced until it ends: true on Windows;
// elsewhere a file in use is replaced by a new one under its name while the old lives on unnamed.
bool RunningProgramFilesAreLocked();

// A downloaded program file may be run: the owner's execute permission where the OS has one.
bool MakeRunnable(const std::filesystem::path& file);

}  // namespace platform
