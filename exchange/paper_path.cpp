#include "exchange/paper_path.h"

#include <array>
#include <vector>

#include "exchange/gbk_bytes.h"
#include "exchange/query_value.h"
#include "net/gbk.h"

namespace exchange {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr std::string_view kForbiddenCharacters = "<>:\"|?*";

bool IsSeparator(char byte) { return byte == '/' || byte == '\\'; }

char AsciiUpper(char byte) { return (byte >= 'a' && byte <= 'z') ? static_cast<char>(byte - 'a' + 'A') : byte; }

// Windows maps these names to devices in every folder, with or without an extension and trailing blanks.
bool IsDeviceName(std::string_view segment) {
  std::string_view base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper;
  for (char byte : base) upper.push_back(AsciiUpper(byte));
  static constexpr std::array<std::string_view, 4> kPlainDevices = {"CON", "PRN", "AUX", "NUL"};
  for (std::string_view device : kPlainDevices) {
    if (upper == device) return true;
  }
  constexpr std::size_t kNumberedDeviceLength = 4;
  if (upper.size() == kNumberedDeviceLength && (upper.starts_with("COM") || upper.starts_with("LPT"))) {
    return upper[3] >= '1' && upper[3] <= '9';
  }
  return false;
}

bool IsSafeSegment(std::string_view segment) {
  if (segment.empty()) return false;
  if (segment.find_first_not_of(". ") == std::string_view::npos) return false;
  return !IsDeviceName(segment);
}

}  // namespace

std::string UploadPathOf(std::string_view answer) {
  // The bytes a query value cannot carry raw are exactly those a path cannot: the same escaping serves both.
  std::string path(kUploadPrefix);
  path.append(QueryValueOf(answer));
  return path;
}

std::string LocalNameOf(std::string_view answer) {
  const std::size_t slash = answer.find('/');
  if (slash == std::string_view::npos) return std::string(answer);
  return std::string(answer.substr(slash + 1));
}

bool IsSafeLocalName(std::string_view local) {
  if (local.empty()) return false;
  std::vector<std::string_view> segments;
  std::size_t segmentStart = 0;
  std::size_t at = 0;
  while (at < local.size()) {
    const auto byte = static_cast<unsigned char>(local[at]);
    if (net::IsGbkLeadByte(byte)) {
      // Decoders differ on whether a broken character swallows the byte after it, so such a name is never trusted.
      if (at + 1 >= local.size() || !IsGbkTrailByte(static_cast<unsigned char>(local[at + 1]))) return false;
      at += 2;
      continue;
    }
    if (byte < kFirstPrintable || byte == kDelete) return false;
    if (kForbiddenCharacters.find(static_cast<char>(byte)) != std::string_view::npos) return false;
    if (IsSeparator(static_cast<char>(byte))) {
      segments.push_back(local.substr(segmentStart, at - segmentStart));
      segmentStart = at + 1;
    }
    ++at;
  }
  segments.push_back(local.substr(segmentStart));
  // A leading separator shows up as an empty first segment, so absolute names fall out with the empty ones.
  for (std::string_view segment : segments) {
    if (!IsSafeSegment(segment)) return false;
  }
  return true;
}

std::optional<std::string> SafeLocalNameOf(std::string_view answer) {
  std::string local = LocalNameOf(answer);
  if (!IsSafeLocalName(local)) return std::nullopt;
  return local;
}

}  // namespace exchange
