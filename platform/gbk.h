#pragma once

#include <optional>
#include <string>
#include <string_view>

// The system code page (GBK, code page 936) through the platform's own converter: MultiByteToWideChar and
// WideCharToMultiByte on Windows, glibc's iconv elsewhere. Text is UTF-16, as both Win32 and the toolkit hold it.
namespace platform {

inline constexpr char16_t kReplacementCharacter = u'\uFFFD';

// Whether the converter exists in both directions. Without it every conversion would fail; start-up refuses to run
// rather than store empty texts.
bool GbkConverterAvailable();

// The converter's own reading of the bytes, or nothing when any byte sequence in them is invalid or unassigned.
std::optional<std::u16string> DecodeGbkStrict(std::string_view bytes);

// GBK bytes as text. A byte sequence the converter cannot read becomes U+FFFD: a lead byte with a valid second byte
// (an unassigned pair) as one character, a lead byte without one (also at the very end) alone, after which the next
// byte is read on its own. Nothing is dropped.
std::u16string DecodeGbk(std::string_view bytes);

// Text as GBK bytes, or nothing when the text holds a character GBK cannot write (or half a surrogate pair). Never a
// best-fit look-alike or "?": the caller decides what a text it cannot send means.
std::optional<std::string> EncodeGbk(std::u16string_view text);

}  // namespace platform
