#include "exchange/download_folder.h"

#include "exchange/paper_path.h"
#include "ui/gbk_text.h"

#include <gtest/gtest.h>

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace exchange {
namespace {

// The download and "打开试卷" both find a paper's file here: the download from the file-name page's answer, the open
// from the name the row keeps. A name is placed under the folder only when it stays inside it.
TEST(PaperFilePath, PlacesANameUnderTheFolderOnlyWhenItStaysThere) {
  struct Case {
    const char* label;
    QString storedName;  // as F_BDWJ holds it
    QString expected;
  };
  const QString folder = QStringLiteral("/tmp/w/DownLoad");
  const std::vector<Case> cases = {
      {"plain", QStringLiteral("x.pdf"), QStringLiteral("/tmp/w/DownLoad/x.pdf")},
      {"Chinese with a blank", QStringLiteral("高考 数.pdf"), QStringLiteral("/tmp/w/DownLoad/高考 数.pdf")},
      {"sub-folder", QStringLiteral("sub/x.pdf"), QStringLiteral("/tmp/w/DownLoad/sub/x.pdf")},
      {"a character GBK cannot write", QStringLiteral("a\uFFFD.pdf"), QStringLiteral("/tmp/w/DownLoad/a\uFFFD.pdf")},
      {"parent refused", QStringLiteral("../x.pdf"), QString()},
      {"parent behind a backslash refused", QStringLiteral("sub\\..\\..\\x.pdf"), QString()},
      {"absolute refused", QStringLiteral("/etc/passwd"), QString()},
      {"drive refused", QStringLiteral("C:\\x.pdf"), QString()},
      {"device refused", QStringLiteral("sub/nul.pdf"), QString()},
      {"empty refused", QString(), QString()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PaperFilePath(c.storedName, folder), c.expected) << c.label;
  }
  EXPECT_EQ(PaperFilePath(QStringLiteral("x.pdf"), folder + QStringLiteral("/")), QStringLiteral("/tmp/w/DownLoad/x.pdf"));
}

// What the download stores for an answer: the name after the answer's first folder, every separator written "/"
// except a GBK character's own second byte 0x5C.
TEST(PaperFilePath, TheDownloadStoresWhatTheOpenFindsAgain) {
  struct Case {
    const char* label;
    std::string answer;
    QString stored;
  };
  const std::vector<Case> cases = {
      {"folder dropped", "2024/x.pdf", QStringLiteral("x.pdf")},
      {"backslash is a separator", "2024/sub\\x.pdf", QStringLiteral("sub/x.pdf")},
      {"second byte 0x5C stays in the name", "2024/\xD5\\.pdf", QStringLiteral("誠.pdf")},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> local = SafeLocalNameOf(c.answer);
    ASSERT_TRUE(local) << c.label;
    EXPECT_EQ(ui::DecodeGbk(*local), c.stored) << c.label;
    EXPECT_EQ(PaperFilePath(c.stored, QStringLiteral("/d")), QStringLiteral("/d/") + c.stored) << c.label;
  }
}

}  // namespace
}  // namespace exchange
