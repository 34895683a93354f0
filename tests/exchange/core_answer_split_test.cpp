#include "exchange/answer_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace exchange {
namespace {

using Pieces = std::vector<std::string>;

struct SplitCase {
  const char* label;
  std::string answer;
  Pieces expected;
};

TEST(SplitRecords, FollowsTheColumnSplitterRule) {
  const std::vector<SplitCase> cases = {
      {"empty answer", "", {}},
      {"blanks and line breaks only", " \r\n\t \r\n", {}},
      {"only the delimiter", "<tr>", {}},
      {"one record", "<tr><F_id>7</F_id>", {"<F_id>7</F_id>"}},
      {"text before the first delimiter is a record", "<table>\r\n<tr>a", {"<table>", "a"}},
      {"line break between two delimiters is an empty record", "<tr>a\r\n<tr>\r\n<tr>b", {"a", "", "b"}},
      {"adjacent delimiters give nothing", "<tr><tr>a<tr><tr>", {"a"}},
      {"pieces are trimmed on both ends", "\r\n<tr>  a b \r\n<tr>\tc\r\n", {"a b", "c"}},
      {"trailing delimiter adds nothing", "<tr>a<tr>", {"a"}},
      {"no delimiter at all", "  plain  ", {"plain"}},
      {"control bytes count as blanks", std::string("\x01<tr>a\x1f", 6), {"a"}},
      {"GBK bytes are not trimmed", "<tr>\xB9\xAB\xA1\xA1", {"\xB9\xAB\xA1\xA1"}},
      {"delimiter is case-sensitive", "<TR>a<tr>b", {"<TR>a", "b"}},
      {"byte search ignores GBK pairs", "\xB9<tr>a", {"\xB9", "a"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitRecords(c.answer), c.expected) << c.label;
  }
}

TEST(SplitColumns, EmptyDelimiterLeavesTheTrimmedTextWhole) {
  EXPECT_EQ(SplitColumns(" a<tr>b ", ""), Pieces({"a<tr>b"}));
}

struct FieldCase {
  const char* label;
  std::string record;
  std::string expected;
};

TEST(ExtractField, TakesTheBytesBetweenTheFirstTagsByTheFormula) {
  const std::vector<FieldCase> cases = {
      {"plain value", "<F_KM>abc</F_KM>", "abc"},
      {"value is raw: blanks and entities kept", "<F_KM> a&amp; </F_KM>", " a&amp; "},
      {"empty value", "<F_KM></F_KM>", ""},
      {"neither tag", "nothing here", ""},
      {"opening tag only", "<F_KM>abc", ""},
      {"closing tag before opening tag", "</F_KM>x<F_KM>y", ""},
      // p1 = 0: the slice starts at byte len("<F_KM>") = 6 and runs p2 - 6 bytes.
      {"closing tag without opening tag", "0123456789</F_KM>", "56789"},
      {"closing tag too early without opening tag", "ab</F_KM>", ""},
      {"first occurrences win", "<F_KM>a</F_KM><F_KM>b</F_KM>", "a"},
      {"closing tag searched from the start", "</F_KM><F_KM>a</F_KM>", ""},
      {"GBK value", "<F_KM>\xB9\xAB\xCE\xF1\xD4\xB1</F_KM>", "\xB9\xAB\xCE\xF1\xD4\xB1"},
      // A broken character right before the closing tag takes its "<" as second byte: the tag is not there.
      {"tag split across a GBK character", "<F_KM>a\xB9</F_KM>", ""},
      {"NUL byte inside the value", std::string("<F_KM>a\0b</F_KM>", 16), std::string("a\0b", 3)},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(ExtractField(c.record, "<F_KM>", "</F_KM>"), c.expected) << c.label;
  }
}

TEST(FindInGbkText, SkipsMatchesOnTheSecondByteOfACharacter) {
  struct Case {
    const char* label;
    std::string text;
    std::string pattern;
    std::size_t expected;
  };
  const std::vector<Case> cases = {
      {"at the start", "abc", "a", 1},
      {"absent", "abc", "x", 0},
      {"empty pattern", "abc", "", 0},
      {"second byte 0x40 is not an '@'", "\xB9@", "@", 0},
      {"second byte 0x5C is not a backslash", "\xD5\\a\\", "\\", 4},
      {"later match after a pair", "\xB9\xAB<", "<", 3},
      {"pair-aligned multi-byte pattern", "a\xB9\xAB", "\xB9\xAB", 2},
      {"misaligned multi-byte pattern", "\xB9\xAB\xCE", "\xAB\xCE", 0},
      {"lead byte at the end", "ab\xB9", "\xB9", 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindInGbkText(c.text, c.pattern), c.expected) << c.label;
  }
}

TEST(ParseAnswer, TurnsEveryPieceIntoARecord) {
  const std::string answer =
      "<html>\r\n"
      "<tr><F_id>7</F_id><F_SJMC>\xB1\xEA\xCC\xE2</F_SJMC><F_KM>\xB8\xDF\xBF\xBC</F_KM>"
      "<F_ZFL1>\xD3\xEF\xCE\xC4</F_ZFL1><F_LB>\xD5\xE6\xCC\xE2</F_LB><F_MS>m s</F_MS>\r\n"
      "<tr>\r\n"
      "<tr><F_MS>only</F_MS><F_id>8</F_id>\r\n";
  const std::vector<Record> records = ParseAnswer(answer);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], Record{});
  EXPECT_EQ(records[1], (Record{"7", "\xB1\xEA\xCC\xE2", "\xB8\xDF\xBF\xBC", "\xD3\xEF\xCE\xC4", "\xD5\xE6\xCC\xE2",
                                "m s"}));
  EXPECT_EQ(records[2], Record{});
  EXPECT_EQ(records[3], (Record{"8", "", "", "", "", "only"}));
}

}  // namespace
}  // namespace exchange
