#include "net/internet_date.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr net::UnixSeconds kNov6_1994_084937 = 784111777;

struct DateCase {
  const char* label;
  const char* text;
  std::optional<net::UnixSeconds> expected;
};

TEST(InternetDate, ReadsTheFormsServersWrite) {
  const DateCase cases[] = {
      {"RFC 1123", "Sun, 06 Nov 1994 08:49:37 GMT", kNov6_1994_084937},
      {"RFC 850 with dashes and two-digit year", "Sunday, 06-Nov-94 08:49:37 GMT", kNov6_1994_084937},
      {"asctime: month first, year after the time", "Sun Nov  6 08:49:37 1994", kNov6_1994_084937},
      {"month before day with dashes", "Sun, Nov-06-1994 08:49:37 GMT", kNov6_1994_084937},
      {"year after the time, then a zone", "06 Nov 08:49:37 1994 GMT", kNov6_1994_084937},
      {"no day name", "06 Nov 1994 08:49:37 GMT", kNov6_1994_084937},
      {"no zone", "06 Nov 1994 08:49:37", kNov6_1994_084937},
      {"letters in any case, full month name", "sunday, 6 NOVEMBER 1994 08:49:37 gmt", kNov6_1994_084937},
      {"eastern numeric zone", "Sun, 06 Nov 1994 16:49:37 +0800", kNov6_1994_084937},
      {"western numeric zone", "Sun, 06 Nov 1994 03:49:37 -0500", kNov6_1994_084937},
      {"numeric zone with a colon", "Sun, 06 Nov 1994 16:49:37 +08:00", kNov6_1994_084937},
      {"zone name other than GMT counts as GMT", "Sun, 06 Nov 1994 08:49:37 PST", kNov6_1994_084937},
      {"two-digit year 79 is 2079", "Sun, 01-Jan-79 00:00:00 GMT", 3439756800},
      {"two-digit year 80 is 1980", "Tue, 01-Jan-80 00:00:00 GMT", 315532800},
      {"leap day", "Tue, 29 Feb 2000 00:00:00 GMT", 951782400},
      {"past 2038", "Tue, 19 Jan 2038 03:14:08 GMT", 2147483648},
      {"empty", "", std::nullopt},
      {"a word", "tomorrow", std::nullopt},
      {"ISO form", "1994-11-06T08:49:37Z", std::nullopt},
      {"no time", "06 Nov 1994", std::nullopt},
      {"no year", "06 Nov 08:49:37 GMT", std::nullopt},
      {"unknown month", "06 Noo 1994 08:49:37 GMT", std::nullopt},
      {"day past the month's end", "Mon, 31 Feb 2020 00:00:00 GMT", std::nullopt},
      {"29 February outside a leap year", "29 Feb 1900 00:00:00 GMT", std::nullopt},
      {"hour 24", "06 Nov 1994 24:00:00 GMT", std::nullopt},
      {"minutes and seconds only", "06 Nov 1994 08:49 GMT", std::nullopt},
      {"bad numeric zone", "06 Nov 1994 08:49:37 +08x0", std::nullopt},
      {"two years", "06 Nov 1994 08:49:37 1995", std::nullopt},
  };
  for (const DateCase& c : cases) {
    EXPECT_EQ(net::ParseInternetDate(c.text), c.expected) << c.label << ": \"" << c.text << "\"";
  }
}

TEST(InternetDate, WritesGmtAndReadsItBack) {
  const struct {
    net::UnixSeconds moment;
    const char* text;
  } cases[] = {
      {kNov6_1994_084937, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
      {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
      {net::kZeroDate, "Sat, 30 Dec 1899 00:00:00 GMT"},
      {253402300799, "Fri, 31 Dec 9999 23:59:59 GMT"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(net::FormatInternetDate(c.moment), c.text);
    EXPECT_EQ(net::ParseInternetDate(c.text), c.moment) << c.text;
  }
}

}  // namespace
