#include "exchange/download_folder.h"

#include "download/partial_file.h"
#include "exchange/paper_path.h"
#include "ui/gbk_text.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

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
      {"program folder refused", QStringLiteral(".vextal"), QString()},
      {"program folder in capitals refused", QStringLiteral(".VEXTAL"), QString()},
      {"file in the program folder refused", QStringLiteral(".vextal/x.pdf"), QString()},
      {"program folder with a trailing blank refused", QStringLiteral(".Vextal /x.pdf"), QString()},
      {"old partial paper's name is a paper's", QStringLiteral(".vextal-1234abcd.part"),
       QStringLiteral("/tmp/w/DownLoad/.vextal-1234abcd.part")},
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

// At start-up only the program's own folder is cleared, and in it only what can no longer be resumed; what lies
// anywhere else in the download folder is a paper or the user's, whatever its name.
TEST(PrepareDownloadFolder, ClearsOnlyWhatTheProgramLeftAndCannotResume) {
  struct Case {
    const char* label;
    const char* file;  // under DownLoad/
    QByteArray content;
    int daysOld;
    bool kept;
  };
  const QByteArray part(900, 'p');
  const QByteArray record = "http://s/Upload/x.pdf\n\"v1\"\n1000\n";
  const std::vector<Case> cases = {
      {"resumable partial", ".vextal/00000000000000a1.part", part, 0, true},
      {"its record", ".vextal/00000000000000a1.resume", record, 0, true},
      {"a week old", ".vextal/00000000000000a2.part", part, 7, true},
      {"a week old: its record", ".vextal/00000000000000a2.resume", record, 7, true},
      {"older than a week", ".vextal/00000000000000a3.part", part, 8, false},
      {"older than a week: its record", ".vextal/00000000000000a3.resume", record, 0, false},
      {"longer than the paper", ".vextal/00000000000000a4.part", part + part, 0, false},
      {"longer than the paper: its record", ".vextal/00000000000000a4.resume", record, 0, false},
      {"paper of unknown length", ".vextal/00000000000000a5.part", part, 0, true},
      {"paper of unknown length: its record", ".vextal/00000000000000a5.resume", "http://s/Upload/y.pdf\n\"v1\"\n-1\n", 0, true},
      {"no validator", ".vextal/00000000000000a6.part", part, 0, false},
      {"no validator: its record", ".vextal/00000000000000a6.resume", "http://s/Upload/x.pdf\n\n1000\n", 0, false},
      {"garbled record", ".vextal/00000000000000a7.part", part, 0, false},
      {"garbled record: the record", ".vextal/00000000000000a7.resume", "http://s/Upload/x.pdf\n\"v1\"\nmany\n", 0, false},
      {"an older program's record", ".vextal/00000000000000aa.part", part, 0, false},
      {"an older program's record: the record", ".vextal/00000000000000aa.resume", "\"v1\"\n1000\n", 0, false},
      {"no record", ".vextal/00000000000000a8.part", part, 0, false},
      {"record without its partial", ".vextal/00000000000000a9.resume", record, 0, false},
      {"a record the process ended in the writing of", ".vextal/00000000000000a9.resume.new", record, 0, false},
      {"another name in the program folder", ".vextal/notes.txt", "x", 30, true},
      {"upper-case digits are not the program's", ".vextal/00000000000000AB.part", part, 30, true},
      {"old-style partial name beside the papers", ".vextal-1234abcd.part", "x", 30, true},
      {"old-style record name beside the papers", ".vextal-1234abcd.resume", "x", 30, true},
      {"old-style partial name in a sub-folder", "sub/.vextal-89abcdef.part", "x", 30, true},
      {"a sub-folder's own .vextal", "sub/.vextal/00000000000000b1.part", part, 30, true},
      {"a paper", "paper.pdf", "x", 30, true},
  };
  const QDateTime now(QDate(2026, 12, 1), QTime(12, 0));
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString folder = root.filePath(QStringLiteral("DownLoad"));
  for (const Case& c : cases) {
    const QString path = folder + QLatin1Char('/') + QString::fromLatin1(c.file);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.content) == c.content.size() && file.flush());
    ASSERT_TRUE(file.setFileTime(now.addDays(-c.daysOld), QFileDevice::FileModificationTime)) << c.label;
  }

  PrepareDownloadFolder(folder, now);

  for (const Case& c : cases) {
    EXPECT_EQ(QFileInfo::exists(folder + QLatin1Char('/') + QString::fromLatin1(c.file)), c.kept) << c.label;
  }
  // A missing folder is made; a program folder left empty goes.
  const QString fresh = root.filePath(QStringLiteral("fresh/DownLoad"));
  PrepareDownloadFolder(fresh, now);
  EXPECT_TRUE(QFileInfo(fresh).isDir());
  ASSERT_TRUE(QDir().mkpath(ProgramFolder(fresh)));
  QFile(QString::fromStdU16String(
            download::PartialPathFor(QFileInfo(ProgramFolder(fresh)).filesystemFilePath(), "http://s/Upload/x.pdf")
                .u16string()))
      .open(QIODevice::WriteOnly);
  PrepareDownloadFolder(fresh, now);
  EXPECT_TRUE(QDir(fresh).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

}  // namespace
}  // namespace exchange
