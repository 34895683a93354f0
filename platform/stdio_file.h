#pragma once

#include <cstdint>
#include <cstdio>

// C stdio streams where the systems differ: 64-bit positions, cutting a file short, and the line-end translation
// Windows' C runtime applies to text streams.
namespace platform {

// The stream's position; -1 when it has none (a pipe, a terminal).
std::int64_t FilePosition(std::FILE* file);

// Cuts a regular file back to position and goes on writing there; nothing happens for a position of -1.
void CutFileBack(std::FILE* file, std::int64_t position);

// Writes the stream's bytes as they are: on Windows no LF turns into CR LF; elsewhere streams never translate.
void WriteBytesAsTheyAre(std::FILE* file);

}  // namespace platform
