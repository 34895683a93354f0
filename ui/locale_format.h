#pragma once

#include <QString>

// The user's time and date formats in Qt's format letters, over platform/locale_pictures: the countdown renders its
// reading with the long time format and the paper download stamps F_GXSJ with the short date plus the long time, so
// both come from the same place and agree with what the user sees elsewhere on the desktop.
namespace ui {

// Windows: the user's long time format, read on every call; elsewhere "H:mm:ss".
QString LongTimeFormat();
// Windows: the user's short date format, read on every call; elsewhere "yyyy-M-d".
QString ShortDateFormat();

// A Windows picture ("tt hh:mm:ss", "yyyy'年'M'月'd'日'") as a QDateTime format rendering the same text.
QString QtFormatFromWindowsPicture(const QString& picture);

}  // namespace ui
