#include "ui/gbk_text.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

namespace ui {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

TEST(DecodeGbk, TurnsBytesIntoTextAndBrokenBytesIntoReplacement) {
  struct Case {
    const char* label;
    std::string bytes;
    QString expected;
  };
  const std::vector<Case> cases = {
      {"empty", "", QString()},
      {"ASCII", "3.1", QStringLiteral("3.1")},
      {"Chinese", "\xB9\xAB\xCE\xF1\xD4\xB1\xBF\xBC\xCA\xD4", QStringLiteral("公务员考试")},
      {"second byte 0x5C", "\xD5\\", QStringLiteral("誠")},
      {"lead byte before an ASCII byte", "\x81/a", QString(kReplacement) + QStringLiteral("/a")},
      {"lead byte at the end is not dropped", "ab\xB9", QStringLiteral("ab") + QChar(kReplacement)},
      {"lone lead byte", "\xB9", QString(kReplacement)},
      {"NUL kept", std::string("a\0b", 3), QString::fromUtf16(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeGbk(c.bytes), c.expected) << c.label;
  }
}

TEST(EncodeGbk, WritesGbkAndRefusesWhatGbkCannotHold) {
  EXPECT_EQ(EncodeGbk(QStringLiteral("高考 语文")), "\xB8\xDF\xBF\xBC \xD3\xEF\xCE\xC4");
  EXPECT_EQ(EncodeGbk(QStringLiteral("系统已经是最新版本了！")), "\xCF\xB5\xCD\xB3\xD2\xD1\xBE\xAD\xCA\xC7\xD7\xEE"
                                                                  "\xD0\xC2\xB0\xE6\xB1\xBE\xC1\xCB\xA3\xA1");
  // Never "?": a paper number sent that way would ask the server for another paper.
  try {
    EncodeGbk(QString::fromUtf16(u"a\U0001F600b"));
    ADD_FAILURE() << "no error";
  } catch (const GbkEncodeError& error) {
    EXPECT_STREQ(error.what(), "A text holds a character GBK cannot write (U+1F600).");
  }
  EXPECT_EQ(EncodeGbk(QString()), "");
  const QString mixed = QStringLiteral("2019年国家公务员考试《行政职业能力测验》真题");
  EXPECT_EQ(DecodeGbk(EncodeGbk(mixed)), mixed);
}

}  // namespace
}  // namespace ui
