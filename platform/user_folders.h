#pragma once

#include <filesystem>

// Folders of the user's own, apart from the working folder the user shares with whoever can write it.
namespace platform {

// Where the updater keeps what it downloads and stages: %LOCALAPPDATA%\Vextal\Updates on Windows,
// $XDG_CACHE_HOME/vextal/updates or ~/.cache/vextal/updates elsewhere. Empty when the platform names no such place.
std::filesystem::path UpdatesFolder();

// Makes the folder with its parents when missing; the folder itself only its owner may enter (on Windows the user's
// profile already is). False when it cannot be made or is not a folder.
bool MakePrivateFolder(const std::filesystem::path& folder);

// Whether files carry owner, group and other permission bits (POSIX). Windows guards files with access lists instead,
// and std::filesystem there reports every writable file as readable and writable by all.
bool FilesHavePermissionBits();

}  // namespace platform
