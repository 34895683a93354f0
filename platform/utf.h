#pragma once

#include <string>
#include <string_view>

// UTF-16 is the text of the platform interfaces on every OS. On Windows a wchar_t is a UTF-16 unit, so these only
// change the type the Win32 calls take.
namespace platform {

#ifdef _WIN32
inline std::wstring WideFromUtf16(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string Utf16FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }
#endif

// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace platform
