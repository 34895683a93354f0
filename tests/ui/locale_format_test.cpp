#include "ui/locale_format.h"

#include "platform/environment.h"
#include "tests/platform/locale_pictures_table.h"
#include "ui/countdown.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

// What a Windows picture renders once converted, at a moment that tells hours, minutes, months and days apart.
TEST(LocaleFormat, WindowsPicturesRenderAsWindowsWouldShowThem) {
  const QDateTime moment(QDate(2026, 3, 7), QTime(9, 5, 4));
  const QDateTime afternoon(QDate(2026, 3, 7), QTime(21, 5, 4));
  struct Case {
    const char* picture;
    QDateTime at;
    QString expected;
  };
  const Case cases[] = {
      {"H:mm:ss", moment, QStringLiteral("9:05:04")},
      {"HH:mm:ss", moment, QStringLiteral("09:05:04")},
      {"h:mm:ss tt", afternoon, QStringLiteral("9:05:04 PM")},
      {"tt hh:mm:ss", moment, QStringLiteral("AM 09:05:04")},
      {"HH.mm.ss", moment, QStringLiteral("09.05.04")},
      {"H 'h' mm 'min' ss 's'", moment, QStringLiteral("9 h 05 min 04 s")},
      {"'o''clock' H", moment, QStringLiteral("o'clock 9")},
      {"H'时'mm'分'ss'秒'", moment, QStringLiteral("9时05分04秒")},
      {"yyyy-M-d", moment, QStringLiteral("2026-3-7")},
      {"yyyy/MM/dd", moment, QStringLiteral("2026/03/07")},
      {"dd.MM.yy", moment, QStringLiteral("07.03.26")},
      {"yyyy'年'M'月'd'日'", moment, QStringLiteral("2026年3月7日")},
      {"gg yyyy/M/d", moment, QStringLiteral(" 2026/3/7")},
      {"d a z", moment, QStringLiteral("7 a z")},
      {"", moment, QString()},
  };
  for (const Case& tc : cases) {
    const QString picture = QString::fromUtf8(tc.picture);
    const QString format = ui::QtFormatFromWindowsPicture(picture);
    SCOPED_TRACE(testing::Message() << tc.picture << " -> " << format.toStdString());
    EXPECT_EQ(tc.at.toString(format), tc.expected);
  }
}

TEST(LocaleFormat, UnterminatedQuoteKeepsItsText) {
  EXPECT_EQ(QTime(9, 5, 4).toString(ui::QtFormatFromWindowsPicture(QStringLiteral("H:mm 'uhr"))),
            QStringLiteral("9:05 uhr"));
}

// The pictures platform_tests reads from each locale (under Wine), rendered as the countdown and the paper download
// render them.
TEST(LocaleFormat, EachLocaleRendersTheCountdownAndTheDownloadTime) {
  const QDateTime downloaded(QDate(2026, 3, 7), QTime(21, 5, 4));
  constexpr qint64 kRemainingAt28Ms = 28'000;
  for (const testsupport::LocalePictureRow& row : testsupport::kLocalePictureRows) {
    const QString locale = QString::fromUtf16(row.locale);
    SCOPED_TRACE(locale.toStdString());
    const QString longTime = ui::QtFormatFromWindowsPicture(QString::fromUtf16(row.longTime));
    const QString shortDate = ui::QtFormatFromWindowsPicture(QString::fromUtf16(row.shortDate));
    EXPECT_EQ(ui::FormatReading(kRemainingAt28Ms, longTime), QString::fromUtf8(row.countdown28));
    EXPECT_EQ(downloaded.date().toString(shortDate) + QLatin1Char(' ') + downloaded.time().toString(longTime),
              QString::fromUtf8(row.downloadTime));
    if (!platform::RunsOnWindows() && locale.isEmpty()) {
      EXPECT_EQ(ui::LongTimeFormat(), longTime);
      EXPECT_EQ(ui::ShortDateFormat(), shortDate);
    }
  }
}

}  // namespace
