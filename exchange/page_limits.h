#pragma once

#include <cstddef>

// How much of each page the client holds in memory. A server answering with more is refused with BodyTooLarge
// before anything is stored; paper files are streamed to disk and have no cap.
namespace exchange {

// The version, new-paper and file-name pages carry a few bytes of text each.
inline constexpr std::size_t kMaxPageBytes = 64 * 1024;
// The update answer: a year of new papers is a few MiB of records, so this leaves ample room for a long absence.
inline constexpr std::size_t kMaxUpdateAnswerBytes = 32 * 1024 * 1024;

}  // namespace exchange
