#include "platform/gbk.h"

#include "platform/environment.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

// The same tables run natively (glibc's GBK through iconv) and under Wine (code page 936 through the Win32 calls).
// Where the two converters genuinely differ, a row says so and carries the Windows answer as well.
namespace platform {
namespace {

const bool kWindows = RunsOnWindows();

constexpr int kByteValues = 256;
constexpr std::u16string_view kReplacement = u"\uFFFD";

std::string Bytes(int first, int second) { return {static_cast<char>(first), static_cast<char>(second)}; }

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

TEST(Gbk, ConverterExists) { EXPECT_TRUE(GbkConverterAvailable()); }

TEST(Gbk, DecodesAndMarksBrokenBytes) {
  struct Case {
    const char* label;
    std::string bytes;
    std::u16string expected;
    std::optional<std::u16string> onWindows = std::nullopt;  // where code page 936 answers otherwise
  };
  const Case cases[] = {
      {"empty", "", u""},
      {"ASCII", "3.1", u"3.1"},
      {"NUL kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"Chinese", "\xB9\xAB\xCE\xF1\xD4\xB1\xBF\xBC\xCA\xD4", u"公务员考试"},
      {"second byte 0x5C", "\xD5\\", u"誠"},
      {"a lead byte is also a second byte", "\x81\x81\x40", u"\u4E96@"},
      {"middle dot, em dash and horizontal bar", "\xA1\xA4\xA1\xAA\xA8\x44", u"\u00B7\u2014\u2015"},
      {"euro sign, the one byte above ASCII that stands alone", "\x80", u"\u20AC"},
      {"0xFF is no character", "a\xFF" "b", u"a\uFFFD" "b"},
      {"lead byte before an ASCII byte", "\x81/a", u"\uFFFD/a"},
      {"lead byte before DEL", "\xB9\x7F", u"\uFFFD\x7F"},
      {"lead byte before 0xFF", "\xB9\xFF", u"\uFFFD\uFFFD"},
      {"lead byte at the end is not dropped", "ab\xB9", u"ab\uFFFD"},
      {"lone lead byte", "\xB9", u"\uFFFD"},
      {"broken character between good ones", "\xB8\xDF\x81 \xBF\xBC", u"高\uFFFD 考"},
      // Code page 936 gives its user-defined areas and unassigned pairs private-use characters (U+E000..U+E864);
      // glibc's GBK assigns them nothing. An unassigned pair is still one broken character, not two.
      {"user-defined area AAA1", "\xAA\xA1", u"\uFFFD", u"\uE000"},
      {"user-defined area A140", "\xA1\x40", u"\uFFFD", u"\uE4C6"},
      {"unassigned A2AB", "\xA2\xAB" "a", u"\uFFFD" "a", u"\uE766" "a"},
      {"unassigned FE50", "\xFE\x50", u"\uFFFD", u"\uE815"},
  };
  for (const Case& c : cases) {
    const std::u16string expected = kWindows && c.onWindows ? *c.onWindows : c.expected;
    EXPECT_EQ(DecodeGbk(c.bytes), expected) << c.label;
  }
}

TEST(Gbk, EncodesOrRefusesWhatGbkCannotHold) {
  struct Case {
    const char* label;
    std::u16string text;
    std::optional<std::string> expected;  // nothing: refused
    std::optional<std::optional<std::string>> onWindows = std::nullopt;
  };
  const Case cases[] = {
      {"empty", u"", ""},
      {"ASCII and Chinese", u"高考 语文", "\xB8\xDF\xBF\xBC \xD3\xEF\xCE\xC4"},
      {"full-width exclamation mark", u"了！", "\xC1\xCB\xA3\xA1"},
      {"euro sign", u"\u20AC", "\x80"},
      {"no look-alike for a letter GBK lacks", u"\u00E4", std::nullopt},
      {"outside the BMP", u"a\U0001F600b", std::nullopt},
      {"half a surrogate pair", std::u16string(1, u'\xD800'), std::nullopt},
      {"the replacement character", u"\uFFFD", std::nullopt},
      {"katakana middle dot", u"\u30FB", std::nullopt},
      {"private use U+E000", u"\uE000", std::nullopt, std::optional<std::string>("\xAA\xA1")},
      // Wine writes U+F8F5 as the lone byte 0xFF, which it then does not read back.
      {"private use U+F8F5", u"\uF8F5", std::nullopt, std::optional<std::string>("\xFF")},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> expected = kWindows && c.onWindows ? *c.onWindows : c.expected;
    EXPECT_EQ(EncodeGbk(c.text), expected) << c.label;
  }
}

// Every one of the 65,536 byte pairs: the converter reads a pair as one character exactly when net/'s lead-byte test
// says it starts one; what it reads there comes back as the same bytes; anything else decodes into U+FFFD per broken
// character, never dropping the byte after it.
TEST(Gbk, EveryBytePairAgreesWithTheLeadByteTestAndRoundTrips) {
  // glibc leaves 2,149 of the 23,940 lead-and-second-byte pairs unassigned (the areas above); 936 assigns them all.
  const int expectedCharacters = kWindows ? 23940 : 21791;
  int characters = 0;
  for (int first = 0; first < kByteValues; ++first) {
    const std::u16string alone = DecodeGbk(Bytes(first, 0).substr(0, 1));
    ASSERT_EQ(alone.size(), 1u) << Hex(Bytes(first, 0).substr(0, 1));
    const bool lead = platform::IsGbkLeadByte(static_cast<unsigned char>(first));
    if (lead) {
      EXPECT_EQ(alone, kReplacement) << "lead byte alone " << first;
    }
    for (int second = 0; second < kByteValues; ++second) {
      const std::string pair = Bytes(first, second);
      const std::optional<std::u16string> strict = DecodeGbkStrict(pair);
      const std::u16string lenient = DecodeGbk(pair);
      const bool trail = platform::IsGbkTrailByte(static_cast<unsigned char>(second));
      if (strict && strict->size() == 1) {
        ++characters;
        EXPECT_TRUE(lead && trail) << Hex(pair) << " read as one character";
        EXPECT_EQ(lenient, *strict) << Hex(pair);
        EXPECT_EQ(EncodeGbk(*strict), pair) << Hex(pair) << " round trip";
        continue;
      }
      if (lead && trail) {
        EXPECT_FALSE(strict) << Hex(pair) << " lead and second byte read apart";
        EXPECT_EQ(lenient, kReplacement) << Hex(pair) << " unassigned pair";
        continue;
      }
      // Not a character: each byte is read alone, a lead byte as a broken character.
      const std::u16string secondAlone = DecodeGbk(pair.substr(1));
      EXPECT_EQ(lenient, alone + secondAlone) << Hex(pair);
      if (strict) {
        EXPECT_EQ(*strict, lenient) << Hex(pair);
      }
    }
  }
  EXPECT_EQ(characters, expectedCharacters);
}

}  // namespace
}  // namespace platform
