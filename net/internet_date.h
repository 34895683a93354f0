#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace net {

// A moment as UTC seconds since 1970-01-01 00:00:00.
using UnixSeconds = std::int64_t;

// The moment an unreadable date stands for: 1899-12-30 00:00:00, the zero of the date type servers' old clients used.
// It lies before every real "now", so a cookie whose expiry cannot be read is dropped rather than kept forever.
inline constexpr UnixSeconds kZeroDate = -2209161600;

// Reads an Internet date as servers write it in cookie expiries: an optional day name, day and month name in either
// order (blanks or "-" between them), the year (two digits: below 80 is 20xx, else 19xx) before or after the time,
// the time as H:M:S and an optional zone. Only a numeric zone ("+0800", "-05:00") moves the moment; a zone name
// counts as GMT. Nothing when the text cannot be read.
std::optional<UnixSeconds> ParseInternetDate(std::string_view text);

// "Wdy, DD Mon YYYY HH:MM:SS GMT".
std::string FormatInternetDate(UnixSeconds moment);

// The system clock as UnixSeconds.
UnixSeconds SystemNow();

}  // namespace net
