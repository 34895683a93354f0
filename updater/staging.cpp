#include "updater/staging.h"

#include "platform/file_kind.h"
#include "platform/program_run.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace updater {
namespace {

namespace fs = std::filesystem;

// A fresh name is found within this many tries unless the folder cannot be written at all.
constexpr int kStagingNameTries = 100;
// The folders beside a program where Qt looks for its plug-ins.
constexpr std::array<std::u16string_view, 9> kPluginFolders = {
    u"platforms", u"styles",  u"sqldrivers", u"imageformats", u"iconengines", u"tls", u"networkinformation",
    u"generic",   u"platforminputcontexts",
};
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Paths relative to the install folder, each once.
using FileSet = std::set<fs::path>;

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

// The folder's entries; an entry that cannot be read ends the listing early (the range-for increment would throw).
std::vector<fs::path> EntriesOf(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  return entries;
}

// A library by any loader's naming: the Windows shape is staged in the tests of every OS alike.
bool IsLibraryName(const fs::path& name) {
  std::u16string text = name.filename().u16string();
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit - u'A' + u'a' : unit; });
  return text.ends_with(u".dll") || text.ends_with(u".so") || text.ends_with(u".dylib") ||
         text.find(u".so.") != std::u16string::npos;
}

// What staging takes without a list: the libraries beside the program and in Qt's plug-in folders, nothing else.
FileSet FilesBesideProgram(const fs::path& installFolder) {
  FileSet files;
  for (const fs::path& entry : EntriesOf(installFolder)) {
    const fs::path name = entry.filename();
    const platform::EntryKind kind = platform::EntryKindOf(entry);
    if (kind == platform::EntryKind::kFile && IsLibraryName(name)) files.insert(name);
    if (kind != platform::EntryKind::kFolder ||
        std::find(kPluginFolders.begin(), kPluginFolders.end(), name.u16string()) == kPluginFolders.end()) {
      continue;
    }
    for (const fs::path& plugin : EntriesOf(entry)) {
      if (platform::EntryKindOf(plugin) == platform::EntryKind::kFile && IsLibraryName(plugin)) {
        files.insert(name / plugin.filename());
      }
    }
  }
  return files;
}

// One line of the list as a path below the folder; nothing when it could name anything else. Written by the build
// with "/" alone, so a backslash, a drive's colon (or a Windows stream's) and an empty or dotted name are no entry.
std::optional<fs::path> ListedPath(std::string_view line) {
  constexpr std::string_view kNeverInAName("\\:\0", 3);
  if (line.empty() || line.front() == '/' || line.find_first_of(kNeverInAName) != std::string_view::npos) {
    return std::nullopt;
  }
  for (std::size_t from = 0;;) {
    const std::size_t to = std::min(line.find('/', from), line.size());
    const std::string_view name = line.substr(from, to - from);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    if (to == line.size()) break;
    from = to + 1;
  }
  fs::path path;
  try {
    path = fs::path(std::u8string(line.begin(), line.end()));
  } catch (const std::exception&) {
    return std::nullopt;  // not UTF-8
  }
  if (path.has_root_path()) return std::nullopt;
  return path;
}

enum class Found { kFile, kMissing, kRefused };

// Every name on the way must be a real folder and the last a regular file: a link would lead outside the folder.
Found LookUp(const fs::path& folder, const fs::path& relative) {
  fs::path at = folder;
  const auto last = std::prev(relative.end());
  for (auto name = relative.begin(); name != relative.end(); ++name) {
    at /= *name;
    const platform::EntryKind kind = platform::EntryKindOf(at);
    if (kind == platform::EntryKind::kMissing) return Found::kMissing;
    const platform::EntryKind wanted = name == last ? platform::EntryKind::kFile : platform::EntryKind::kFolder;
    if (kind != wanted) return Found::kRefused;
  }
  return Found::kFile;
}

// The files the list names that the folder holds; nothing when the list cannot be read or names anything else.
std::optional<FileSet> ListedFiles(const fs::path& installFolder, const fs::path& list) {
  std::ifstream in(list, std::ios::binary);
  if (!in) return std::nullopt;
  FileSet files;
  std::string line;
  for (bool first = true; std::getline(in, line); first = false) {
    if (first && line.starts_with(kUtf8Mark)) line.erase(0, kUtf8Mark.size());
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::optional<fs::path> path = ListedPath(line);
    if (!path) return std::nullopt;
    const Found found = LookUp(installFolder, *path);
    if (found == Found::kRefused) return std::nullopt;
    if (found == Found::kFile) files.insert(*path);
  }
  if (in.bad()) return std::nullopt;
  return files;
}

// What staging copies, the program and the list included; nothing when the list is refused.
std::optional<FileSet> FilesToStage(const fs::path& installFolder, const fs::path& program) {
  const fs::path list = installFolder / kProgramFilesListName;
  std::optional<FileSet> files;
  switch (platform::EntryKindOf(list)) {
    case platform::EntryKind::kMissing:
      files = FilesBesideProgram(installFolder);
      break;
    case platform::EntryKind::kFile:
      files = ListedFiles(installFolder, list);
      if (files) files->insert(list.filename());
      break;
    default:
      return std::nullopt;
  }
  if (!files) return std::nullopt;
  files->insert(program.filename());
  files->erase(platform::ProgramFileIn({}, kClientProgramName));
  return files;
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
  std::optional<FileSet> files;
  try {
    files = FilesToStage(installFolder, program);
  } catch (const std::exception&) {
    return std::nullopt;  // a path the system cannot hold in memory; staging runs off the caller's thread
  }
  if (!files || platform::EntryKindOf(program) != platform::EntryKind::kFile) return std::nullopt;
  const fs::path parent = updatesFolder / kStagingFolderName;
  std::error_code error;
  fs::create_directories(parent, error);
  const fs::path staging = NewStagingFolder(parent);
  if (staging.empty()) return std::nullopt;
  for (const fs::path& file : *files) {
    if (file.has_parent_path()) fs::create_directories(staging / file.parent_path(), error);
    if (!error) fs::copy_file(installFolder / file, staging / file, error);
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
  const fs::path own = runningFrom.lexically_normal();
  for (const fs::path& entry : EntriesOf(updatesFolder / kStagingFolderName)) {
    if (entry.lexically_normal() == own) continue;
    std::error_code ignored;
    fs::remove_all(entry, ignored);
  }
}

}  // namespace updater
