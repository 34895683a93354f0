#include "platform/locale_pictures.h"

#include "tests/platform/locale_pictures_table.h"
#include "platform/environment.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

TEST(LocalePictures, EachLocaleGivesItsPicturesAndTheirQtLetters) {
  for (const testsupport::LocalePictureRow& row : testsupport::kLocalePictureRows) {
    const std::u16string locale = row.locale;
    SCOPED_TRACE(Narrow(locale.empty() ? u"(fixed)" : locale));
    EXPECT_EQ(QtFormatFromWindowsPicture(row.longTime), row.qtLongTime);
    EXPECT_EQ(QtFormatFromWindowsPicture(row.shortDate), row.qtShortDate);
    if (locale.empty()) {
      if (!RunsOnWindows()) {
        EXPECT_EQ(UserPicture(Picture::kLongTime), row.longTime);
        EXPECT_EQ(UserPicture(Picture::kShortDate), row.shortDate);
      }
      continue;
    }
    if (!RunsOnWindows()) {
      EXPECT_FALSE(LocalePicture(locale, Picture::kLongTime));
      continue;
    }
    // The table holds Wine's locale data; a real Windows only has to answer something.
    const std::optional<std::u16string> longTime = LocalePicture(locale, Picture::kLongTime);
    const std::optional<std::u16string> shortDate = LocalePicture(locale, Picture::kShortDate);
    ASSERT_TRUE(longTime && shortDate);
    if (platform::RunsUnderWine()) {
      EXPECT_EQ(Narrow(*longTime), Narrow(row.longTime));
      EXPECT_EQ(Narrow(*shortDate), Narrow(row.shortDate));
    }
  }
}

TEST(LocalePictures, UnknownLocaleHasNoneAndTheUserAlwaysHasOne) {
  EXPECT_FALSE(LocalePicture(u"xx-YY", Picture::kLongTime));
  EXPECT_FALSE(UserPicture(Picture::kLongTime).empty());
  EXPECT_FALSE(UserPicture(Picture::kShortDate).empty());
}

}  // namespace
}  // namespace platform
