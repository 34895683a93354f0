// Local file naming of the file-name page's answer: a name it accepts stays inside the download folder on every
// platform.

#include "exchange/paper_path.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The properties a name must have to stay inside the folder, checked without the naming code's own helpers.
bool StaysInside(const std::string& name) {
  if (name.empty() || IsSeparator(name.front())) return false;
  if (name.find(':') != std::string::npos || name.find('\0') != std::string::npos) return false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i])) continue;
    const std::string segment = name.substr(start, i - start);
    if (segment.empty() || segment.find_first_not_of(". ") == std::string::npos) return false;
    start = i + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view answer(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> local = exchange::SafeLocalNameOf(answer);
  // A GBK trail byte may look like a backslash, so a name with double-byte characters is judged by the naming code
  // alone; a plain-ASCII name must pass the independent check.
  bool ascii = true;
  for (char c : answer) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (local && ascii && !StaysInside(*local)) std::abort();
  exchange::UploadPathOf(answer);
  return 0;
}
