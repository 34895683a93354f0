// The Internet-date reader behind cookie expiry: whatever it reads must write out and read back to the same moment.

#include "net/internet_date.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {
// The moments an Internet date can carry: years 1 to 9999.
constexpr net::UnixSeconds kEarliest = -62135596800;
constexpr net::UnixSeconds kLatest = 253402300799;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<net::UnixSeconds> moment = net::ParseInternetDate(text);
  if (moment && *moment >= kEarliest && *moment <= kLatest) {
    const std::optional<net::UnixSeconds> again = net::ParseInternetDate(net::FormatInternetDate(*moment));
    if (!again || *again != *moment) std::abort();
  }
  return 0;
}
