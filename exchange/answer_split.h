#pragma once

#include <string>
#include <string_view>
#include <vector>

// The update page's answer, taken apart byte by byte. The server speaks GBK and the rules below are those the
// catalogue has always been filled by, including their oddities (a stray piece before the first "<tr>" becomes a
// record of its own), so the rows a given answer produces stay the same.
namespace exchange {

inline constexpr std::string_view kRecordDelimiter = "<tr>";

inline constexpr std::string_view kIdOpenTag = "<F_id>";
inline constexpr std::string_view kIdCloseTag = "</F_id>";
inline constexpr std::string_view kTitleOpenTag = "<F_SJMC>";
inline constexpr std::string_view kTitleCloseTag = "</F_SJMC>";
inline constexpr std::string_view kExamOpenTag = "<F_KM>";
inline constexpr std::string_view kExamCloseTag = "</F_KM>";
inline constexpr std::string_view kSubjectOpenTag = "<F_ZFL1>";
inline constexpr std::string_view kSubjectCloseTag = "</F_ZFL1>";
inline constexpr std::string_view kCategoryOpenTag = "<F_LB>";
inline constexpr std::string_view kCategoryCloseTag = "</F_LB>";
inline constexpr std::string_view kDescriptionOpenTag = "<F_MS>";
inline constexpr std::string_view kDescriptionCloseTag = "</F_MS>";

// One record of the update answer, still in GBK bytes. The server calls its paper number F_id; the catalogue keeps
// it in F_bh (its own F_id is the local row number), so the field carries the catalogue's name.
struct Record {
  std::string F_bh;
  std::string F_SJMC;
  std::string F_KM;
  std::string F_ZFL1;
  std::string F_LB;
  std::string F_MS;

  bool operator==(const Record&) const = default;
};

// Removes leading and trailing bytes of code 32 or below (blanks, line breaks, control bytes). GBK bytes are all
// above 0x80, so they are never trimmed.
std::string TrimBlanks(std::string_view text);

// The column splitter: pieces of the trimmed text between occurrences of the delimiter (a plain byte search). A
// piece is kept when it is not empty before trimming and stored trimmed, so a piece of only line breaks between two
// delimiters yields an empty entry. An empty delimiter leaves the trimmed text whole.
std::vector<std::string> SplitColumns(std::string_view text, std::string_view delimiter);

// SplitColumns with "<tr>".
std::vector<std::string> SplitRecords(std::string_view answer);

// 1-based position of the first occurrence of pattern in GBK text, 0 when absent. A match that would begin on the
// second byte of a double-byte character does not count. An empty pattern is never found.
std::size_t FindInGbkText(std::string_view text, std::string_view pattern);

// The bytes between the first opening tag and the first closing tag, both searched from the start of the record:
// they start at p1 + len(open) and run p2 - p1 - len(open) bytes, where an absent tag counts as position 0. A count
// of zero or less, or a start beyond the end, gives empty text. So a closing tag before the opening one gives
// empty text, and a record with a closing tag but no opening tag yields the bytes after the first len(open) ones.
std::string ExtractField(std::string_view record, std::string_view openTag, std::string_view closeTag);

// The six fields of one record piece.
Record ParseRecord(std::string_view piece);

// Every record of an update answer, in order. A blank-only answer yields none.
std::vector<Record> ParseAnswer(std::string_view answer);

}  // namespace exchange
