#pragma once

#include <QString>

// The user's time and date formats, in Qt's format letters. The countdown renders its reading with the long time
// format and the paper download stamps F_GXSJ with the short date plus the long time, so both must come from the same
// place and agree with what the user sees elsewhere on the desktop.
namespace ui {

// Formats used where the platform has no user locale setting we read. "H:mm:ss" rather than the toolkit's own long
// format: that one appends a time zone, and a countdown rendered with it would never match a trigger reading.
inline constexpr char kDefaultLongTimeFormat[] = "H:mm:ss";
// The short date of a Chinese desktop of the program's era.
inline constexpr char kDefaultShortDateFormat[] = "yyyy-M-d";

// Windows: the user's long time format (LOCALE_STIMEFORMAT) converted to Qt letters; elsewhere
// kDefaultLongTimeFormat. Read on every call, so a change in the control panel takes effect without a restart.
QString LongTimeFormat();
// Windows: the user's LOCALE_SSHORTDATE converted to Qt letters; elsewhere kDefaultShortDateFormat.
QString ShortDateFormat();

// Converts a Windows date or time picture ("H:mm:ss", "tt hh:mm:ss", "yyyy'年'M'月'd'日'") to a QDateTime format that
// renders the same text. Literal text is quoted so letters that mean nothing to Windows but something to Qt (a stray
// "a" or "z") stay literal. Approximations where Qt has no equivalent: "t" (one-letter AM/PM) and "tt" become "AP",
// "y" (year without century or leading zero) becomes "yy", era letters "g" are dropped, and "h" without "t" counts
// hours 0 to 23 where Windows would count 1 to 12.
QString QtFormatFromWindowsPicture(const QString& picture);

}  // namespace ui
