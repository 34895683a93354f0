#include "updater/file_digest.h"

#include "platform/held_file.h"
#include "updater/update_description.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace updater {
namespace {

namespace fs = std::filesystem;

// SHA-256 of "abc", from FIPS 180-2: the streaming hash is SHA-256 and not merely self-consistent.
constexpr const char* kAbcSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string OneShotSha(const std::string& bytes) {
  unsigned char hash[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(hash, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return HexOf(std::string_view(reinterpret_cast<const char*>(hash), sizeof hash));
}

TEST(FileHasSha256, TakesOnlyTheFileOfThatSizeAndHash) {
  struct Case {
    const char* label;
    std::optional<std::string> content;  // nothing: a folder stands at the path
    std::string expectedHex;
    std::uint64_t expectedSize;
    bool expected;
  };
  ASSERT_GE(sodium_init(), 0);
  // Several reading pieces and a part of one, glued in the right order.
  const std::string large = std::string(150000, 'a') + "end";
  const std::vector<Case> cases = {
      {"the file", "abc", kAbcSha, 3, true},
      {"one byte short of the size", "abc", kAbcSha, 2, false},
      {"one byte longer than the size", "abc", kAbcSha, 4, false},
      {"another hash", "abd", kAbcSha, 3, false},
      {"hash in capitals", "abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", 3, false},
      {"larger than one piece", large, OneShotSha(large), large.size(), true},
      {"larger than one piece, cut short", large.substr(0, large.size() - 1), OneShotSha(large), large.size(), false},
      {"empty file", "", OneShotSha(""), 0, true},
      {"a folder", std::nullopt, OneShotSha(""), 0, false},
  };
  const fs::path file = fs::path(::testing::TempDir()) / "vextal_file_digest_test";
  for (const Case& c : cases) {
    fs::remove_all(file);
    if (c.content) {
      std::ofstream(file, std::ios::binary) << *c.content;
    } else {
      fs::create_directory(file);
    }
    EXPECT_EQ(FileHasSha256(file, c.expectedHex, c.expectedSize), c.expected) << c.label;
    // The check before the start, from the opening the start uses.
    platform::HeldFile held;
    held.Open(file);
    EXPECT_EQ(FileHasSha256(held, c.expectedHex, c.expectedSize), c.expected) << c.label << ", held";
  }
  fs::remove_all(file);
  EXPECT_FALSE(FileHasSha256(file, kAbcSha, 3)) << "no file";
}

}  // namespace
}  // namespace updater
