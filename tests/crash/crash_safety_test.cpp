// The real client killed with SIGKILL at random moments of an import and of a download. Whatever the moment, the
// catalogue opens and passes SQLite's integrity check, every row is whole, the import's records are all there or
// none of them (the import posts the whole answer in one transaction, so a kill before its commit leaves the
// catalogue as it was, and one after leaves every record), and no paper lies truncated under its final name.

#include "store/catalogue.h"
#include "tests/support/loopback_server.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <random>
#include <string>

namespace {

using testsupport::Action;
using testsupport::Answer;
using testsupport::OkResponse;

constexpr int kKills = 50;
constexpr int kBaseRows = 500;
constexpr int kRecords = 20000;
constexpr std::size_t kPaperBytes = 4 * 1024 * 1024;
constexpr int kStartMs = 30000;
// The answers come in pieces with pauses, so a kill can land anywhere in the transfer as well as after it.
constexpr std::size_t kAnswerPiece = 64 * 1024;
constexpr std::size_t kPaperPiece = 128 * 1024;
constexpr int kPieceGapMs = 2;
constexpr unsigned kSeed = 20261208;
const char kPaperName[] = "x/p.doc";
const QString kDownload = QStringLiteral("下载");
const QString kOpen = QStringLiteral("打开");

std::string UpdateAnswer() {
  std::string answer;
  for (int i = 1; i <= kRecords; ++i) {
    const std::string n = std::to_string(kBaseRows + i);
    answer += "<tr><F_id>" + n + "</F_id><F_SJMC>T" + n + "</F_SJMC><F_KM>K</F_KM><F_ZFL1>S</F_ZFL1><F_LB>C</F_LB>" +
              "<F_MS>M" + n + "</F_MS>\r\n";
  }
  return answer;
}

std::string Paper() {
  std::string paper(kPaperBytes, '\0');
  for (std::size_t i = 0; i < paper.size(); ++i) paper[i] = static_cast<char>('a' + i % 23);
  return paper;
}

class CrashSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    const std::string answer = UpdateAnswer();
    const std::string paper = Paper();
    m_paper = QByteArray::fromStdString(paper);
    m_server.SetHandler([answer, paper](const std::string& request) {
      if (request.find("ZPR_UpCount.asp") != std::string::npos) {
        return testsupport::SplitAnswer(OkResponse(answer), kAnswerPiece, kPieceGapMs);
      }
      if (request.find("ZPR_BhToDown.asp") != std::string::npos) return Answer{Action::Send(OkResponse(kPaperName))};
      return testsupport::SplitAnswer(OkResponse(paper), kPaperPiece, kPieceGapMs);
    });
    // The catalogue every run starts from: rows whose every field is filled, the newest one not downloaded yet.
    m_template = m_dir.filePath(QStringLiteral("template.mdb"));
    {
      QSqlDatabase db = store::OpenCatalogue(m_template, QStringLiteral("crash-template"));
      QSqlQuery query(db);
      ASSERT_TRUE(db.transaction());
      for (int i = 1; i <= kBaseRows; ++i) {
        const QString n = QString::number(i);
        ASSERT_TRUE(query.exec(QStringLiteral("insert into VXT_TM (F_bh, F_SJMC, F_KM, F_ZFL1, F_LB, F_MS, F_ZT) "
                                              "values (%1, 'T%1', 'K', 'S', 'C', 'M%1', '下载')")
                                   .arg(n)));
      }
      ASSERT_TRUE(db.commit());
      db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("crash-template"));
  }

  // A working folder of its own with a fresh copy of the catalogue and an empty download folder.
  QString NewFolder(int run) {
    const QString folder = m_dir.filePath(QStringLiteral("run%1").arg(run));
    EXPECT_TRUE(QDir().mkpath(folder + QStringLiteral("/data")));
    EXPECT_TRUE(QDir().mkpath(folder + QStringLiteral("/DownLoad")));
    EXPECT_TRUE(QFile::copy(m_template, folder + QStringLiteral("/data/data.mdb")));
    return folder;
  }

  // Runs the client until it is done, or kills it killAfterMs after its windows are up; returns whether it finished
  // its road. *workMs receives how long the road took after the windows were up.
  bool RunClient(const char* mode, const QString& folder, int killAfterMs, qint64* workMs = nullptr) {
    QProcess client;
    // Its warnings (the offscreen platform has a few) would bury the test's own output.
    client.setStandardErrorFile(QProcess::nullDevice());
    client.start(QStringLiteral(VEXTAL_CRASH_CLIENT_PATH),
                 {QString::fromLatin1(mode), folder, QString::fromStdString(m_server.Url(""))});
    EXPECT_TRUE(client.waitForStarted(kStartMs));
    while (!client.canReadLine() && client.waitForReadyRead(kStartMs)) {
    }
    EXPECT_EQ(client.readLine().trimmed(), QByteArray("ready"));
    QElapsedTimer work;
    work.start();
    const bool finished = client.waitForFinished(killAfterMs);
    if (workMs != nullptr) *workMs = work.elapsed();
    if (!finished) {
      client.kill();  // SIGKILL: nothing of the client runs after it
      client.waitForFinished(kStartMs);
    }
    return client.readAll().contains("done");
  }

  // What a killed run left behind; every expectation that holds whatever the moment of the kill.
  struct Left {
    int rows = 0;
    QString paperStatus;
    bool paperFile = false;
  };
  Left Check(const QString& folder, int run) {
    Left left;
    const QString connection = QStringLiteral("crash-check-%1").arg(run);
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
      db.setDatabaseName(folder + QStringLiteral("/data/data.mdb"));
      EXPECT_TRUE(db.open());
      QSqlQuery query(db);
      EXPECT_TRUE(query.exec(QStringLiteral("pragma integrity_check")) && query.next());
      EXPECT_EQ(query.value(0).toString(), QStringLiteral("ok"));
      EXPECT_TRUE(query.exec(QStringLiteral("select count(*) from VXT_TM")) && query.next());
      left.rows = query.value(0).toInt();
      // Whole rows: every field the import or the start catalogue wrote is there and belongs to its own paper.
      EXPECT_TRUE(query.exec(QStringLiteral(
                      "select count(*) from VXT_TM where F_SJMC is not 'T' || F_bh or F_MS is not 'M' || F_bh "
                      "or F_KM is not 'K' or F_ZFL1 is not 'S' or F_LB is not 'C' or F_ZT is null")) &&
                  query.next());
      EXPECT_EQ(query.value(0).toInt(), 0);
      EXPECT_TRUE(query.exec(QStringLiteral("select F_ZT from VXT_TM order by F_id desc limit 1")) && query.next());
      left.paperStatus = query.value(0).toString();
      db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    QFile paper(folder + QStringLiteral("/DownLoad/p.doc"));
    left.paperFile = paper.exists();
    if (left.paperFile) {
      EXPECT_TRUE(paper.open(QIODevice::ReadOnly));
      EXPECT_TRUE(paper.readAll() == m_paper) << "a truncated paper under its final name";
    }
    return left;
  }

  // One run to the end to learn how long the road takes, then kKills runs killed at random moments of it.
  void KillRepeatedly(const char* mode, const std::function<void(const Left&, bool finished)>& judge) {
    qint64 workMs = 0;
    const QString calibration = NewFolder(0);
    ASSERT_TRUE(RunClient(mode, calibration, kStartMs, &workMs));
    judge(Check(calibration, 0), true);
    std::mt19937 random(kSeed);
    // A little past the end too: a kill after the last write must find everything in place.
    std::uniform_int_distribution<int> moment(0, static_cast<int>(workMs + workMs / 5) + 1);
    for (int run = 1; run <= kKills; ++run) {
      SCOPED_TRACE(run);
      const QString folder = NewFolder(run);
      const bool finished = RunClient(mode, folder, moment(random));
      judge(Check(folder, run), finished);
    }
  }

  testsupport::LoopbackServer m_server;
  QTemporaryDir m_dir;
  QString m_template;
  QByteArray m_paper;
};

TEST_F(CrashSafetyTest, AKilledImportLeavesTheWholeBatchOrNoneOfIt) {
  int none = 0;
  int all = 0;
  KillRepeatedly("import", [&](const Left& left, bool finished) {
    EXPECT_TRUE(left.rows == kBaseRows || left.rows == kBaseRows + kRecords) << left.rows << " rows";
    if (finished) {
      EXPECT_EQ(left.rows, kBaseRows + kRecords);
    }
    (left.rows == kBaseRows ? none : all) += 1;
  });
  std::cout << "import killed " << kKills << " times: " << none << " left none of the batch, " << all
            << " all of it\n";
}

TEST_F(CrashSafetyTest, AKilledDownloadLeavesNoTruncatedPaper) {
  int before = 0;
  int after = 0;
  KillRepeatedly("download", [&](const Left& left, bool finished) {
    EXPECT_EQ(left.rows, kBaseRows);
    EXPECT_TRUE(left.paperStatus == kDownload || left.paperStatus == kOpen) << left.paperStatus.toStdString();
    // The row is marked only once the whole file is in place under its name.
    if (left.paperStatus == kOpen) {
      EXPECT_TRUE(left.paperFile);
    }
    if (finished) {
      EXPECT_EQ(left.paperStatus, kOpen);
    }
    (left.paperStatus == kOpen ? after : before) += 1;
  });
  std::cout << "download killed " << kKills << " times: " << before << " before the row was marked, " << after
            << " after\n";
}

}  // namespace
