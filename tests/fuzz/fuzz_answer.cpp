// The update answer taken apart into records and fields, and the GBK-aware tag search under it.
//
// Input: the answer; its first byte also chooses a delimiter length for the plain column splitter.

#include "exchange/answer_split.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view answer(reinterpret_cast<const char*>(data), size);
  for (const exchange::Record& record : exchange::ParseAnswer(answer)) {
    // A field is a part of its record, so no field can be longer than the answer.
    if (record.F_bh.size() > size || record.F_MS.size() > size) std::abort();
  }
  if (size > 0) {
    const std::size_t delimiterLength = data[0] % 8;
    const std::string_view delimiter = answer.substr(1, delimiterLength);
    exchange::SplitColumns(answer, delimiter);
    const std::size_t at = exchange::FindInGbkText(answer, delimiter);
    if (at > size) std::abort();
    exchange::ExtractField(answer, delimiter, answer.substr(size / 2, delimiterLength));
  }
  return 0;
}
