#pragma once

#include <filesystem>

// The program keeps its partial papers in a folder of its own inside the download folder, out of the user's sight: a
// leading dot hides it everywhere but on Windows, where only the hidden attribute does.
namespace platform {

// Sets the hidden attribute on Windows; elsewhere a name that starts with "." is hidden already and nothing changes.
// Returns whether the file or folder is hidden now. A file system without the attribute simply shows it.
bool HideFromListings(const std::filesystem::path& path);
// Whether listings leave the file or folder out: its hidden attribute on Windows, a name starting with "." elsewhere.
// False when it does not exist.
bool IsHiddenFromListings(const std::filesystem::path& path);

}  // namespace platform
