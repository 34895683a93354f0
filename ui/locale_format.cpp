#include "ui/locale_format.h"

#include "platform/locale_pictures.h"

namespace ui {

QString QtFormatFromWindowsPicture(const QString& picture) {
  return QString::fromStdU16String(platform::QtFormatFromWindowsPicture(picture.toStdU16String()));
}

QString LongTimeFormat() {
  return QString::fromStdU16String(
      platform::QtFormatFromWindowsPicture(platform::UserPicture(platform::Picture::kLongTime)));
}

QString ShortDateFormat() {
  return QString::fromStdU16String(
      platform::QtFormatFromWindowsPicture(platform::UserPicture(platform::Picture::kShortDate)));
}

}  // namespace ui
