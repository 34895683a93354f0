#pragma once

#include <optional>
#include <string>
#include <string_view>

// The system code page (GBK, code page 936) through the platform's own converter: MultiByteToWideChar and
// WideCharToMultiByte on Windows, glibc's iconv elsewhere. Text is UTF-16, as both Win32 and the toolkit hold it.
namespace platform {

inline constexpr char16_t kReplacementCharacter = u'\uFFFD';

// A byte in this range starts a double-byte character, and the byte after it may take any value, including those of
// ASCII delimiters such as "\\" or "<".
inline bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// GBK's second byte lies in 0x40..0xFE without 0x7F. After a lead byte anything else is a broken character: the
// converter then reads the lead byte alone as invalid and the next byte on its own.
inline bool IsGbkTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

// Every "\\" that stands for itself written as "/", the way Windows reads a path: a byte after a lead byte belongs to
// its character, whatever it looks like, so a second byte 0x5C stays.
std::string BackslashesAsSlashes(std::string_view bytes);

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
