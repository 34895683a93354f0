#include "exchange/query_value.h"

namespace exchange {

std::string QueryValueOf(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  constexpr unsigned char kLastBlank = 0x20;
  constexpr unsigned char kDelete = 0x7F;
  std::string value;
  value.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= kLastBlank || byte == kDelete || c == '#') {
      value += '%';
      value += kHex[byte >> 4];
      value += kHex[byte & 0xF];
    } else {
      value += c;
    }
  }
  return value;
}

}  // namespace exchange
