#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The highest program version this user's updater has ever verified, kept in a small file of its own in the updates
// folder. A description of an older release stays validly signed until its date runs out; without this memory a
// version server (or whoever answers in its place) could serve it again and take the user back to a version with
// the faults the newer one fixed.
namespace updater {

// The file's name in the updates folder.
inline constexpr const char* kVerifiedVersionFile = "verified-version.txt";

// The version the file holds (a version as ParseVersion reads it, on one line); empty when the file is missing,
// unreadable or holds anything else.
std::string ReadHighestVerified(const std::filesystem::path& file);

// Stores `version` unless the file holds a version at least as high; false when it had to be written and could not
// be. Written under a name of its own and renamed over the file, so a crash leaves either the old file or the new one.
bool RememberVerified(const std::filesystem::path& file, std::string_view version);

}  // namespace updater
