#include "exchange/answer_split.h"

#include "platform/gbk.h"

namespace exchange {
namespace {

constexpr unsigned char kLastBlankCode = 32;

bool IsBlank(char byte) { return static_cast<unsigned char>(byte) <= kLastBlankCode; }

}  // namespace

std::string TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::vector<std::string> SplitColumns(std::string_view text, std::string_view delimiter) {
  std::vector<std::string> pieces;
  const std::string trimmed = TrimBlanks(text);
  if (trimmed.empty()) return pieces;
  const std::string_view whole(trimmed);

  std::size_t from = 0;
  if (!delimiter.empty()) {
    for (std::size_t at = whole.find(delimiter); at != std::string_view::npos; at = whole.find(delimiter, from)) {
      const std::string_view piece = whole.substr(from, at - from);
      if (!piece.empty()) pieces.push_back(TrimBlanks(piece));
      from = at + delimiter.size();
    }
  }
  if (from < whole.size()) pieces.push_back(TrimBlanks(whole.substr(from)));
  return pieces;
}

std::vector<std::string> SplitRecords(std::string_view answer) { return SplitColumns(answer, kRecordDelimiter); }

std::size_t FindInGbkText(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return 0;
  // A plain byte search finds the candidates. A byte that is not a lead byte always ends a character (whether it
  // stood alone or was a second byte), so only the run of lead bytes right before a candidate decides: the candidate
  // begins a character when that run pairs up evenly. Scanning back no further than the last candidate keeps the
  // search linear; comparing at every character start from the beginning took seconds on a large answer.
  std::size_t knownStart = 0;  // a position known to begin a character
  for (std::size_t at = text.find(pattern); at != std::string_view::npos; at = text.find(pattern, at + 1)) {
    std::size_t runStart = at;
    while (runStart > knownStart && platform::IsGbkLeadByte(static_cast<unsigned char>(text[runStart - 1]))) --runStart;
    if ((at - runStart) % 2 == 0) return at + 1;
    knownStart = at + 1;  // the candidate is a second byte, so the next byte begins a character
  }
  return 0;
}

std::string ExtractField(std::string_view record, std::string_view openTag, std::string_view closeTag) {
  // Signed arithmetic on purpose: an absent tag is position 0 and the formula may go below zero.
  const long long p1 = static_cast<long long>(FindInGbkText(record, openTag));
  const long long p2 = static_cast<long long>(FindInGbkText(record, closeTag));
  const long long openLength = static_cast<long long>(openTag.size());
  long long start = p1 + openLength;  // 1-based
  long long count = p2 - p1 - openLength;
  if (count <= 0) return {};
  if (start < 1) {
    // Only reachable with an empty opening tag; the copy starts at the first byte as the old string copy did.
    start = 1;
  }
  const long long size = static_cast<long long>(record.size());
  if (start > size) return {};
  if (count > size - start + 1) count = size - start + 1;
  return std::string(record.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

Record ParseRecord(std::string_view piece) {
  Record record;
  record.F_bh = ExtractField(piece, kIdOpenTag, kIdCloseTag);
  record.F_SJMC = ExtractField(piece, kTitleOpenTag, kTitleCloseTag);
  record.F_KM = ExtractField(piece, kExamOpenTag, kExamCloseTag);
  record.F_ZFL1 = ExtractField(piece, kSubjectOpenTag, kSubjectCloseTag);
  record.F_LB = ExtractField(piece, kCategoryOpenTag, kCategoryCloseTag);
  record.F_MS = ExtractField(piece, kDescriptionOpenTag, kDescriptionCloseTag);
  return record;
}

std::vector<Record> ParseAnswer(std::string_view answer) {
  std::vector<Record> records;
  for (const std::string& piece : SplitRecords(answer)) records.push_back(ParseRecord(piece));
  return records;
}

}  // namespace exchange
