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

// Copies every file and sub-folder of installFolder but the client's program into a new folder under
// updatesFolder/staging and returns the copy of `program` (a file of installFolder) there; nothing when any part of
// the copy failed (what was copied is removed).
std::optional<std::filesystem::path> StageProgramFiles(const std::filesystem::path& installFolder,
                                                       const std::filesystem::path& program,
                                                       const std::filesystem::path& updatesFolder);

// Removes what earlier runs staged, but the folder `runningFrom` (where this copy runs from, when staged). A folder
// that cannot go yet (a staged copy still running on Windows) is left for the next start.
void RemoveStaleStaging(const std::filesystem::path& updatesFolder, const std::filesystem::path& runningFrom);

}  // namespace updater
