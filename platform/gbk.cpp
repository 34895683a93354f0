#include "platform/gbk.h"

#include <climits>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <bit>
#include <cerrno>

#include <iconv.h>
#endif

namespace platform {
namespace {

constexpr unsigned char kFirstNonAscii = 0x80;

// A lead byte with a valid second byte is one unit, whether or not the pair is assigned; every other byte is a unit
// of its own. A unit the converter cannot read costs one replacement character.
std::size_t UnitLength(std::string_view bytes, std::size_t at) {
  const bool pair = platform::IsGbkLeadByte(static_cast<unsigned char>(bytes[at])) && at + 1 < bytes.size() &&
                    platform::IsGbkTrailByte(static_cast<unsigned char>(bytes[at + 1]));
  return pair ? 2 : 1;
}

#ifdef _WIN32

constexpr UINT kGbkCodePage = 936;

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

#else

// glibc's converter names; "GBK" is code page 936 without the user-defined areas (see the tests).
constexpr const char* kGbkName = "GBK";
constexpr const char* kUtf16Name = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Opening a converter costs far more than converting a field, and an import converts six fields a record: one pair
// per thread serves every call.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
  ~Iconv() {
    if (Usable()) iconv_close(m_handle);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool Usable() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in, or fails at the first sequence the converter cannot read or write (or an incomplete one at
  // the end).
  bool Convert(std::string_view in, std::string& out) {
    out.clear();
    if (!Usable()) return false;
    iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
    // GBK never takes more than two bytes for a UTF-16 unit, nor UTF-16 more than two for a GBK byte.
    out.resize(in.size() * 2 + kSlack);
    char* source = const_cast<char*>(in.data());
    std::size_t sourceLeft = in.size();
    char* target = out.data();
    std::size_t targetLeft = out.size();
    while (sourceLeft > 0) {
      if (iconv(m_handle, &source, &sourceLeft, &target, &targetLeft) != static_cast<std::size_t>(-1)) break;
      if (errno != E2BIG) return false;
      const std::size_t used = out.size() - targetLeft;
      out.resize(out.size() * 2);
      target = out.data() + used;
      targetLeft = out.size() - used;
    }
    out.resize(out.size() - targetLeft);
    return true;
  }

 private:
  static constexpr std::size_t kSlack = 16;
  iconv_t m_handle;
};

Iconv& Decoder() {
  thread_local Iconv decoder(kUtf16Name, kGbkName);
  return decoder;
}

Iconv& Encoder() {
  thread_local Iconv encoder(kGbkName, kUtf16Name);
  return encoder;
}

#endif

}  // namespace

bool GbkConverterAvailable() {
#ifdef _WIN32
  return IsValidCodePage(kGbkCodePage) != 0;
#else
  return Decoder().Usable() && Encoder().Usable();
#endif
}

std::optional<std::u16string> DecodeGbkStrict(std::string_view bytes) {
  if (bytes.empty()) return std::u16string();
#ifdef _WIN32
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (needed <= 0) return std::nullopt;
  std::u16string text(static_cast<std::size_t>(needed), u'\0');
  if (MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, bytes.data(), size, Wide(text.data()), needed) !=
      needed) {
    return std::nullopt;
  }
  return text;
#else
  std::string out;
  if (!Decoder().Convert(bytes, out)) return std::nullopt;
  std::u16string text(out.size() / sizeof(char16_t), u'\0');
  std::memcpy(text.data(), out.data(), text.size() * sizeof(char16_t));
  return text;
#endif
}

std::string BackslashesAsSlashes(std::string_view bytes) {
  std::string out(bytes);
  for (std::size_t at = 0; at < out.size(); ++at) {
    if (IsGbkLeadByte(static_cast<unsigned char>(out[at]))) {
      ++at;
    } else if (out[at] == '\\') {
      out[at] = '/';
    }
  }
  return out;
}

std::u16string DecodeGbk(std::string_view bytes) {
  if (std::optional<std::u16string> whole = DecodeGbkStrict(bytes)) return *whole;
  // Only broken text takes this road, a unit at a time, so one bad unit cannot cost its neighbours.
  std::u16string text;
  text.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < kFirstNonAscii) {
      text.push_back(static_cast<char16_t>(byte));
      ++at;
      continue;
    }
    const std::size_t length = UnitLength(bytes, at);
    const std::optional<std::u16string> unit = DecodeGbkStrict(bytes.substr(at, length));
    if (unit) {
      text += *unit;
    } else {
      text.push_back(kReplacementCharacter);
    }
    at += length;
  }
  return text;
}

std::optional<std::string> EncodeGbk(std::u16string_view text) {
  if (text.empty()) return std::string();
#ifdef _WIN32
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(text.size());
  // Without WC_NO_BEST_FIT_CHARS Windows writes a look-alike ("a" for "ä") and calls it a success.
  BOOL usedDefault = FALSE;
  const int needed =
      WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, Wide(text.data()), size, nullptr, 0, nullptr, &usedDefault);
  if (needed <= 0 || usedDefault) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  if (WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, Wide(text.data()), size, bytes.data(), needed, nullptr,
                          &usedDefault) != needed ||
      usedDefault) {
    return std::nullopt;
  }
  return bytes;
#else
  std::string bytes;
  const std::string_view units(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
  if (!Encoder().Convert(units, bytes)) return std::nullopt;
  return bytes;
#endif
}

}  // namespace platform
