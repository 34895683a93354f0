#pragma once

#include <filesystem>

// What stands at a path, the path's last name itself and not what a link there leads to: a folder that is a link
// could be pointed elsewhere by whoever made it, so code that must know whose folder it writes into asks this.
namespace platform {

enum class EntryKind {
  kMissing,
  kFile,    // a regular file
  kFolder,  // a real folder
  kLink,    // a symbolic link; on Windows any reparse point (a junction, a mount point) as well
  kOther,   // a device, a pipe, or what cannot be looked at
};

EntryKind EntryKindOf(const std::filesystem::path& path);

}  // namespace platform
