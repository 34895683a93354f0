#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Windows lets no file of a running program, nor a library it loaded, be replaced. The updater in the install folder
// therefore copies the program's files into a folder of its own and lets that copy do the work, so the installer may
// replace every file of the install folder, the updater's own included.
namespace updater {

// The one option a staged copy is started with, followed by the install folder.
inline constexpr const char16_t* kInstallFolderOption = u"--install-folder";
// The staging folders' parent, inside the updates folder.
inline constexpr const char* kStagingFolderName = "staging";
// The client's program file, which staging leaves out: the updater never runs it from the copy.
inline constexpr const char* kClientProgramName = "vextal";
// The build's list of the program's files, in the install folder beside them (scripts/windows-dist writes it under
// this name): UTF-8, one path a line, relative to the folder with "/" between names.
inline constexpr const char* kProgramFilesListName = "program-files.txt";

// Shown when the arguments are none of these.
inline constexpr const char* kBadArgumentsText = "升级程序收到的参数不对，没有安装任何东西。";

struct Invocation {
  enum class Kind {
    kInPlace,  // no arguments, as the client starts the updater
    kStaged,   // a staged copy: installFolder names the folder to install into
    kInvalid,  // anything else: nothing is done
  };
  Kind kind = Kind::kInvalid;
  std::filesystem::path installFolder;
};

// The arguments after the program's own name.
Invocation ParseInvocation(const std::vector<std::u16string>& arguments);
std::vector<std::u16string> StagedArguments(const std::filesystem::path& installFolder);

// Copies the program's files of installFolder, as its list names them, into a new folder under updatesFolder/staging
// and returns the copy of `program` (a file of installFolder) there. The client's program is left out, the list is
// copied too, and a file the list names but the folder lacks is passed over (the update is what mends such an
// install). Without a list (a developer's build, an install older than the list) only `program`, the libraries beside
// it and the files of Qt's plug-in folders are copied, never the user's folders. Nothing when the list names anything
// but a file inside the folder (a path climbing out, a root or drive, a link on the way, a folder) or any part of the
// copy failed; what was copied is removed then. Touches no toolkit and no shared state: it may run on any thread.
std::optional<std::filesystem::path> StageProgramFiles(const std::filesystem::path& installFolder,
                                                       const std::filesystem::path& program,
                                                       const std::filesystem::path& updatesFolder);

// Removes what earlier runs staged, but the folder `runningFrom` (where this copy runs from, when staged). A folder
// that cannot go yet (a staged copy still running on Windows) is left for the next start.
void RemoveStaleStaging(const std::filesystem::path& updatesFolder, const std::filesystem::path& runningFrom);

}  // namespace updater
