#include "platform/stdio_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace platform {

std::int64_t FilePosition(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return static_cast<std::int64_t>(ftello(file));
#endif
}

void CutFileBack(std::FILE* file, std::int64_t position) {
  if (position < 0) return;
  std::fflush(file);
#ifdef _WIN32
  if (_chsize_s(_fileno(file), position) == 0) _fseeki64(file, position, SEEK_SET);
#else
  if (ftruncate(fileno(file), static_cast<off_t>(position)) == 0) fseeko(file, static_cast<off_t>(position), SEEK_SET);
#endif
}

void WriteBytesAsTheyAre([[maybe_unused]] std::FILE* file) {
#ifdef _WIN32
  _setmode(_fileno(file), _O_BINARY);
#endif
}

}  // namespace platform
