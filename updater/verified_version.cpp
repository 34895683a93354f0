#include "updater/verified_version.h"

#include "net/http_text.h"
#include "updater/update_description.h"

#include <compare>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

namespace updater {
namespace {

namespace fs = std::filesystem;

// A version and its line end, with room for blanks; a longer file is not one this module wrote.
constexpr std::uintmax_t kLargestFileBytes = 256;
constexpr const char* kNewFileSuffix = ".new";

}  // namespace

std::string ReadHighestVerified(const fs::path& file) {
  std::error_code error;
  if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > kLargestFileBytes || error) return {};
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  if (!in) return {};
  std::string version = net::TrimBlanks(content.str());
  if (!ParseVersion(version)) return {};
  return version;
}

bool RememberVerified(const fs::path& file, std::string_view version) {
  if (!ParseVersion(version)) return false;
  const std::optional<std::strong_ordering> order = CompareVersions(version, ReadHighestVerified(file));
  if (order && *order != std::strong_ordering::greater) return true;

  fs::path written = file;
  written += kNewFileSuffix;
  {
    std::ofstream out(written, std::ios::binary | std::ios::trunc);
    out << version << '\n';
    out.close();
    if (out.fail()) return false;
  }
  std::error_code error;
  fs::rename(written, file, error);
  if (!error) return true;
  fs::remove(written, error);
  return false;
}

}  // namespace updater
