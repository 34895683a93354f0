#pragma once

#include <filesystem>

// Folders of the user's own, apart from the working folder the user shares with whoever can write it.
namespace platform {

// A folder of the program's below one the platform gives the user.
struct UserFolderPath {
  // The user's folder as the platform names it (%LOCALAPPDATA%, the cache home), taken as it is: the user may have
  // moved it elsewhere through a link.
  std::filesystem::path base;
  // The program's own folders below it, outermost first.
  std::filesystem::path relative;
};

// Where the updater keeps what it downloads and stages: %LOCALAPPDATA%\Vextal\Updates on Windows,
// $XDG_CACHE_HOME/vextal/updates or ~/.cache/vextal/updates elsewhere. Empty when the platform names no such place.
UserFolderPath UpdatesFolderPath();
// UpdatesFolderPath() as one path.
std::filesystem::path UpdatesFolder();

// Makes every folder of location.relative below location.base that is missing, and makes each of them, the ones that
// were there included, one only its owner may enter (Windows: an access list naming the user alone, not inherited;
// POSIX: mode 0700). A base that is missing is made the same way. False when a folder cannot be made or made private,
// or when one that is there is not a real folder of this user's: a file, a link or junction (which whoever made it
// could point elsewhere), or another user's folder.
bool MakePrivateFolders(const UserFolderPath& location);

// MakePrivateFolders for one path: below the updates folder's base when the folder lies there, otherwise below the
// deepest folder of its path that exists.
bool MakePrivateFolder(const std::filesystem::path& folder);

// Whether files carry owner, group and other permission bits (POSIX). Windows guards files with access lists instead,
// and std::filesystem there reports every writable file as readable and writable by all.
bool FilesHavePermissionBits();

// Whether the folder is this user's alone: owner-only permission bits, or on Windows an access list of one entry for
// this process's user that inherits nothing.
bool OnlyTheUserMayEnter(const std::filesystem::path& folder);

}  // namespace platform
