#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class HeldFile;
}

// The installer's bytes against what the signed description promised, read in pieces so a large installer never sits
// in memory whole.
namespace updater {

struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256;  // lower-case hex
};

// Nothing when the file is not a regular file, cannot be read whole, or is longer than largestBytes (reading stops
// there).
std::optional<FileDigest> DigestOfFile(const std::filesystem::path& file, std::uint64_t largestBytes);
// The same for a file held open: what the digest describes is then what is started from the same opening.
std::optional<FileDigest> DigestOfFile(const platform::HeldFile& file, std::uint64_t largestBytes);

// The check right before the installer starts: the file holds exactly expectedSize bytes whose SHA-256 is expectedHex
// (lower-case, as a verified description carries it).
bool FileHasSha256(const std::filesystem::path& file, std::string_view expectedHex, std::uint64_t expectedSize);
bool FileHasSha256(const platform::HeldFile& file, std::string_view expectedHex, std::uint64_t expectedSize);

}  // namespace updater
