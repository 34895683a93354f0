#pragma once

#include <optional>
#include <string>
#include <string_view>

// The user's long time and short date formats as Windows writes them ("pictures": "H:mm:ss", "yyyy/M/d") and their
// conversion to the toolkit's format letters. The countdown renders its reading with the long time and the paper
// download stamps F_GXSJ with the short date and the long time, so both come from here.
namespace platform {

enum class Picture { kLongTime, kShortDate };

// Used where the platform has no user locale setting we read. "H:mm:ss" rather than the toolkit's own long format:
// that one appends a time zone, and a countdown rendered with it would never match a trigger reading.
inline constexpr std::u16string_view kDefaultLongTimePicture = u"H:mm:ss";
// The short date of a Chinese desktop of the program's era.
inline constexpr std::u16string_view kDefaultShortDatePicture = u"yyyy-M-d";

// Windows: the user's picture (LOCALE_STIMEFORMAT, LOCALE_SSHORTDATE), read on every call so a change in the control
// panel takes effect without a restart; the default when the call fails. Elsewhere the default.
std::u16string UserPicture(Picture which);

// The picture of a named locale ("zh-CN", "de-DE"); nothing for a locale Windows does not know, and nothing at all
// elsewhere, where the pictures are not the platform's.
std::optional<std::u16string> LocalePicture(std::u16string_view localeName, Picture which);

// Converts a Windows picture to a QDateTime format that renders the same text. Literal text is quoted so letters that
// mean nothing to Windows but something to Qt (a stray "a" or "z") stay literal. Approximations where Qt has no
// equivalent: "t" (one-letter AM/PM) and "tt" become "AP", "y" (year without century or leading zero) becomes "yy",
// era letters "g" are dropped, and "h" without "t" counts hours 0 to 23 where Windows would count 1 to 12.
std::u16string QtFormatFromWindowsPicture(std::u16string_view picture);

}  // namespace platform
