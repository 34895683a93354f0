#include "updater/file_digest.h"

#include "updater/update_description.h"

#include <sodium.h>

#include <fstream>
#include <system_error>
#include <vector>

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

}  // namespace

std::optional<updater::FileDigest> updater::DigestOfFile(const std::filesystem::path& file,
                                                         std::uint64_t largestBytes) {
  // A pipe or a device would be read without end, or block.
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error) || sodium_init() < 0) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;

  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  std::vector<char> piece(kPieceBytes);
  std::uint64_t size = 0;
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<std::uint64_t>(in.gcount());
    size += got;
    if (size > largestBytes) return std::nullopt;
    crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(piece.data()), got);
  }
  if (in.bad()) return std::nullopt;

  unsigned char hash[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&state, hash);
  return FileDigest{size, HexOf(std::string_view(reinterpret_cast<const char*>(hash), sizeof hash))};
}

bool updater::FileHasSha256(const std::filesystem::path& file, std::string_view expectedHex,
                            std::uint64_t expectedSize) {
  const std::optional<FileDigest> digest = DigestOfFile(file, expectedSize);
  return digest && digest->size == expectedSize && digest->sha256 == expectedHex;
}
