#include "updater/file_digest.h"

#include "platform/held_file.h"
#include "updater/update_description.h"

#include <sodium.h>

#include <vector>

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

}  // namespace

std::optional<updater::FileDigest> updater::DigestOfFile(const std::filesystem::path& file,
                                                         std::uint64_t largestBytes) {
  // Held while it is read: a file changed halfway would be hashed as neither its old nor its new self.
  platform::HeldFile held;
  if (!held.Open(file)) return std::nullopt;
  return DigestOfFile(held, largestBytes);
}

std::optional<updater::FileDigest> updater::DigestOfFile(const platform::HeldFile& file, std::uint64_t largestBytes) {
  if (!file.IsOpen() || sodium_init() < 0) return std::nullopt;
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  std::vector<char> piece(kPieceBytes);
  std::uint64_t size = 0;
  for (;;) {
    const std::optional<std::size_t> got = file.ReadAt(size, piece);
    if (!got) return std::nullopt;
    if (*got == 0) break;
    size += *got;
    if (size > largestBytes) return std::nullopt;
    crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(piece.data()), *got);
  }
  unsigned char hash[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&state, hash);
  return FileDigest{size, HexOf(std::string_view(reinterpret_cast<const char*>(hash), sizeof hash))};
}

bool updater::FileHasSha256(const std::filesystem::path& file, std::string_view expectedHex,
                            std::uint64_t expectedSize) {
  platform::HeldFile held;
  return held.Open(file) && FileHasSha256(held, expectedHex, expectedSize);
}

bool updater::FileHasSha256(const platform::HeldFile& file, std::string_view expectedHex,
                            std::uint64_t expectedSize) {
  const std::optional<FileDigest> digest = DigestOfFile(file, expectedSize);
  return digest && digest->size == expectedSize && digest->sha256 == expectedHex;
}
