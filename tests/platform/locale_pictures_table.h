#pragma once

// One table for both sides of the locale formats: platform_tests (natively and under Wine) check the pictures and
// their conversion to Qt letters, ui_tests render the converted formats with Qt the way the countdown and the paper
// download do.
namespace testsupport {

struct LocalePictureRow {
  const char16_t* locale;  // empty: the fixed pictures used off Windows
  const char16_t* longTime;
  const char16_t* shortDate;
  const char16_t* qtLongTime;
  const char16_t* qtShortDate;
  const char* countdown28;   // the countdown's reading 28 seconds after show
  const char* downloadTime;  // F_GXSJ for 2026-03-07 21:05:04
};

// The pictures as Wine 8.0 answers them. A Windows desktop may answer otherwise (zh-CN there commonly writes
// "H:mm:ss", de-DE "dd.MM.yyyy"); the readings follow the picture either way, and only "0:00:28" and "00:00:28" fire.
inline constexpr LocalePictureRow kLocalePictureRows[] = {
    {u"", u"H:mm:ss", u"yyyy-M-d", u"H:mm:ss", u"yyyy-M-d", "0:00:28", "2026-3-7 21:05:04"},
    {u"zh-CN", u"HH:mm:ss", u"yyyy/M/d", u"HH:mm:ss", u"yyyy/M/d", "00:00:28", "2026/3/7 21:05:04"},
    {u"de-DE", u"HH:mm:ss", u"d.M.yyyy", u"HH:mm:ss", u"d.M.yyyy", "00:00:28", "7.3.2026 21:05:04"},
    // Twelve-hour pictures: the reading carries AM, so the countdown never fires under them.
    {u"en-US", u"h:mm:ss tt", u"M/d/yyyy", u"h:mm:ss AP", u"M/d/yyyy", "12:00:28 AM", "3/7/2026 9:05:04 PM"},
    {u"ko-KR", u"tt h:mm:ss", u"yyyy. M. d.", u"AP h:mm:ss", u"yyyy. M. d.", "AM 12:00:28", "2026. 3. 7. PM 9:05:04"},
};

}  // namespace testsupport
