#include "net/internet_date.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace net {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kSecondsPerMinute = 60;
// Two-digit years: below this pivot they mean 20xx, from it on 19xx.
constexpr int kTwoDigitYearPivot = 80;
constexpr int kMaxYear = 9999;
constexpr std::size_t kMaxDayDigits = 2;
constexpr std::size_t kMaxYearDigits = 4;
constexpr std::size_t kTwoDigits = 2;

constexpr std::array<std::string_view, 12> kMonthNames = {"January", "February", "March",     "April",
                                                          "May",     "June",     "July",      "August",
                                                          "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::size_t kAbbreviationLength = 3;

enum class TokenKind { Word, Number, Time, Zone };

struct Token {
  TokenKind kind;
  std::string_view text;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool AllOf(std::string_view text, bool (*test)(char)) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!test(c)) return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// A name may be written in full or by its first three letters ("Nov", "November").
template <std::size_t N>
int IndexOfName(std::string_view word, const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (EqualsNoCase(word, names[i]) || EqualsNoCase(word, names[i].substr(0, kAbbreviationLength))) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int ToNumber(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// Blanks and commas separate the parts; "-" separates day, month and year ("06-Nov-94") except where it signs a zone.
bool Tokenize(std::string_view text, std::vector<Token>& tokens) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) <= ' ' || text[pos] == ',')) ++pos;
    std::size_t end = pos;
    while (end < text.size() && static_cast<unsigned char>(text[end]) > ' ' && text[end] != ',') ++end;
    if (end == pos) break;
    std::string_view raw = text.substr(pos, end - pos);
    pos = end;

    if (raw[0] == '+' || raw[0] == '-') {
      tokens.push_back({TokenKind::Zone, raw});
      continue;
    }
    if (raw.find(':') != std::string_view::npos) {
      tokens.push_back({TokenKind::Time, raw});
      continue;
    }
    std::size_t start = 0;
    while (start <= raw.size()) {
      std::size_t dash = raw.find('-', start);
      if (dash == std::string_view::npos) dash = raw.size();
      std::string_view part = raw.substr(start, dash - start);
      if (AllOf(part, IsDigit)) {
        tokens.push_back({TokenKind::Number, part});
      } else if (AllOf(part, IsLetter)) {
        tokens.push_back({TokenKind::Word, part});
      } else {
        return false;
      }
      start = dash + 1;
    }
  }
  return true;
}

bool ParseTime(std::string_view text, int& hour, int& minute, int& second) {
  std::array<int, 3> parts{};
  std::size_t start = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::size_t colon = text.find(':', start);
    bool last = i + 1 == parts.size();
    if (last != (colon == std::string_view::npos)) return false;
    std::string_view part = text.substr(start, last ? std::string_view::npos : colon - start);
    if (!AllOf(part, IsDigit) || part.size() > kTwoDigits) return false;
    parts[i] = ToNumber(part);
    start = colon + 1;
  }
  hour = parts[0];
  minute = parts[1];
  second = parts[2];
  return hour <= 23 && minute <= 59 && second <= 59;
}

// "+0800", "-0500", "+08:00": the offset of the written time from UTC.
bool ParseNumericZone(std::string_view text, std::int64_t& offsetSeconds) {
  int sign = text[0] == '-' ? -1 : 1;
  std::string_view rest = text.substr(1);
  std::string_view hours;
  std::string_view minutes;
  if (rest.size() == 4 && AllOf(rest, IsDigit)) {
    hours = rest.substr(0, 2);
    minutes = rest.substr(2);
  } else if (rest.size() == 5 && rest[2] == ':') {
    hours = rest.substr(0, 2);
    minutes = rest.substr(3);
  } else {
    return false;
  }
  if (!AllOf(hours, IsDigit) || !AllOf(minutes, IsDigit)) return false;
  int h = ToNumber(hours);
  int m = ToNumber(minutes);
  if (h > 23 || m > 59) return false;
  offsetSeconds = sign * (h * kSecondsPerHour + m * kSecondsPerMinute);
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// Days since 1970-01-01 of a proleptic Gregorian date (after H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(int year, int month, int day) {
  std::int64_t y = month <= 2 ? year - 1 : year;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yearOfEra = y - era * 400;
  std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  std::int64_t dayOfEra = days - era * 146097;
  std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

std::optional<UnixSeconds> ParseInternetDate(std::string_view text) {
  std::vector<Token> tokens;
  if (!Tokenize(text, tokens)) return std::nullopt;

  std::size_t i = 0;
  if (i < tokens.size() && tokens[i].kind == TokenKind::Word && IndexOfName(tokens[i].text, kDayNames) >= 0) ++i;
  if (i + 1 >= tokens.size()) return std::nullopt;

  std::string_view dayText;
  int monthIndex = -1;
  if (tokens[i].kind == TokenKind::Number && tokens[i + 1].kind == TokenKind::Word) {
    dayText = tokens[i].text;
    monthIndex = IndexOfName(tokens[i + 1].text, kMonthNames);
  } else if (tokens[i].kind == TokenKind::Word && tokens[i + 1].kind == TokenKind::Number) {
    monthIndex = IndexOfName(tokens[i].text, kMonthNames);
    dayText = tokens[i + 1].text;
  }
  if (monthIndex < 0 || dayText.size() > kMaxDayDigits) return std::nullopt;
  i += 2;

  // The year stands before the time or after it; a zone, when there is one, follows the time.
  std::string_view yearText;
  std::string_view timeText;
  std::int64_t offset = 0;
  bool haveZone = false;
  for (; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    switch (token.kind) {
      case TokenKind::Number:
        if (!yearText.empty()) return std::nullopt;
        yearText = token.text;
        break;
      case TokenKind::Time:
        if (!timeText.empty()) return std::nullopt;
        timeText = token.text;
        break;
      case TokenKind::Zone:
        if (haveZone || timeText.empty() || !ParseNumericZone(token.text, offset)) return std::nullopt;
        haveZone = true;
        break;
      case TokenKind::Word:
        if (haveZone || timeText.empty()) return std::nullopt;
        haveZone = true;  // a zone name counts as GMT
        break;
    }
  }
  if (yearText.empty() || timeText.empty() || yearText.size() > kMaxYearDigits) return std::nullopt;

  int year = ToNumber(yearText);
  if (yearText.size() <= kTwoDigits) year += year < kTwoDigitYearPivot ? 2000 : 1900;
  int month = monthIndex + 1;
  int day = ToNumber(dayText);
  if (year < 1 || year > kMaxYear || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;

  int hour = 0;
  int minute = 0;
  int second = 0;
  if (!ParseTime(timeText, hour, minute, second)) return std::nullopt;

  return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * kSecondsPerHour + minute * kSecondsPerMinute +
         second - offset;
}

std::string FormatInternetDate(UnixSeconds moment) {
  std::int64_t days = FloorDiv(moment, kSecondsPerDay);
  std::int64_t secondOfDay = moment - days * kSecondsPerDay;
  int year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days, year, month, day);
  // 1970-01-01 was a Thursday.
  std::int64_t weekday = FloorDiv(days + 4, 7);
  weekday = days + 4 - weekday * 7;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3s, %02d %.3s %04d %02d:%02d:%02d GMT",
                kDayNames[static_cast<std::size_t>(weekday)].data(), day,
                kMonthNames[static_cast<std::size_t>(month - 1)].data(), year,
                static_cast<int>(secondOfDay / kSecondsPerHour),
                static_cast<int>(secondOfDay % kSecondsPerHour / kSecondsPerMinute),
                static_cast<int>(secondOfDay % kSecondsPerMinute));
  return buffer;
}

UnixSeconds SystemNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace net
