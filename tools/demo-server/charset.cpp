#include "charset.h"

#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include <iconv.h>

namespace demo {

std::optional<std::string> Convert(const std::string& text, const char* toCharset, const char* fromCharset) {
  iconv_t converter = iconv_open(toCharset, fromCharset);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  std::string input = text;
  char* in = input.data();
  std::size_t inLeft = input.size();
  char buffer[4096];
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(converter);
  if (!ok) return std::nullopt;
  return out;
}

std::string ToGbk(const std::string& utf8) {
  std::optional<std::string> gbk = Convert(utf8, "GBK", "UTF-8");
  if (!gbk) throw std::runtime_error("text not representable in GBK: " + utf8);
  return *gbk;
}

std::optional<std::string> GbkToUtf8(const std::string& gbk) { return Convert(gbk, "UTF-8", "GBK"); }

std::string Printable(const std::string& gbk) {
  if (std::optional<std::string> utf8 = GbkToUtf8(gbk)) return *utf8;
  std::string out;
  for (unsigned char byte : gbk) {
    if (byte >= 0x20 && byte <= 0x7E) {
      out.push_back(static_cast<char>(byte));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

}  // namespace demo
