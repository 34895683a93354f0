#include "ui/error_report.h"

#include "net/http_error.h"
#include "store/catalogue.h"
#include "tests/support/qt_fakes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(ErrorReport, AppendsADotOnlyAfterACharacterAboveTheDot) {
  struct Case {
    QString text;
    QString expected;
    const char* label;
  };
  const Case cases[] = {
      {"", "", "empty text stays empty"},
      {"Connection refused", "Connection refused.", "letter"},
      {"HTTP/1.1 404", "HTTP/1.1 404.", "digit"},
      {"path a/", "path a/.", "slash is just above the dot"},
      {"Done.", "Done.", "the dot itself"},
      {"a-", "a-", "hyphen is just below the dot"},
      {"Stop!", "Stop!", "exclamation mark"},
      {"(10061)", "(10061)", "closing parenthesis"},
      {"one, ", "one, ", "trailing blank"},
      {"连接失败", "连接失败.", "Chinese character"},
      {"完成。", "完成。.", "ideographic full stop is still a double-byte character"},
      {"成功！", "成功！.", "full-width exclamation mark"},
      {"emoji \U0001F600", "emoji \U0001F600.", "character outside GBK"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ui::FinishErrorText(c.text), c.expected) << c.label;
  }
}

TEST(ErrorReport, GuardReportsWhateverEscapesAHandlerAndCarriesOn) {
  struct Case {
    std::function<void()> handler;
    QStringList expected;
    const char* label;
  };
  const Case cases[] = {
      {[] {}, {}, "no error, no report"},
      // "连接失败" in GBK: the network layer's messages are system code page bytes.
      {[] { throw net::HttpClientError(net::ErrorKind::ConnectFailed, "\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC", 10061); },
       {"连接失败."},
       "network error decoded from GBK"},
      {[] { throw net::HttpClientError(net::ErrorKind::ProtocolError, "HTTP/1.1 404 Not Found", 404); },
       {"HTTP/1.1 404 Not Found."},
       "network error in ASCII"},
      {[] { throw net::HttpClientError(net::ErrorKind::ProtocolError, std::string("HTTP/1.1 500 A\0B", 16), 500); },
       {QString::fromLatin1("HTTP/1.1 500 A\0B.", 17)},
       "a status line with a NUL, whole"},
      {[] { throw store::DatabaseError(QStringLiteral("表 VXT_TM 不存在")); }, {"表 VXT_TM 不存在."}, "database error"},
      {[] { throw std::runtime_error("Stop!"); }, {"Stop!"}, "any std::exception"},
      {[] { throw 42; }, {"Unknown exception."}, "not an exception class"},
  };
  for (const Case& c : cases) {
    testsupport::InstalledFakes fakes;
    ui::Guarded(c.handler);
    EXPECT_EQ(fakes.dialogs.errors, c.expected) << c.label;
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty()) << c.label;
  }
}

TEST(ErrorReport, NestedHandlerReportsItsOwnErrorAndTheOuterOneGoesOn) {
  testsupport::InstalledFakes fakes;
  bool outerFinished = false;
  ui::Guarded([&] {
    // As when the pump dispatches a timer tick while a request waits.
    ui::Guarded([] { throw std::runtime_error("inner"); });
    outerFinished = true;
  });
  EXPECT_TRUE(outerFinished);
  EXPECT_EQ(fakes.dialogs.errors, QStringList{"inner."});
}

}  // namespace
