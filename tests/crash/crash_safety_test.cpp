// The real client killed with SIGKILL at moments of an import and of a download: half of them at random over the whole
// road, half aimed inside its write (once the catalogue's journal, or the paper's temporary file, is there). Whatever
// the moment, the catalogue opens and passes SQLite's integrity check, every row is whole, the import's records are
// all there or none of them (the import posts the whole answer in one transaction, so a kill before its commit leaves
// the catalogue as it was, and one after leaves every record), and no paper lies truncated under its final name. What
// each kill left is looked at before anything opens the catalogue, so the kills inside a write are counted, not
// assumed; then the real client starts on the killed catalogue and must show its list.
#include "store/catalogue.h"
#include "tests/support/loopback_server.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <functional>
#include <algorithm>
#include <iostream>
#include <random>
#include <string>

namespace {

using testsupport::Action;
using testsupport::Answer;
using testsupport::OkResponse;

constexpr int kKills = 50;
// Every other kill is aimed inside the write; at least this share of those must be seen to have landed there.
constexpr int kAimedKills = kKills / 2;
constexpr int kAimedKillsInsideAtLeast = kAimedKills / 2;
// The main list shows the newest papers, this many at most.
constexpr int kListRows = 100;
constexpr int kBaseRows = 500;
constexpr int kRecords = 20000;
constexpr std::size_t kPaperBytes = 4 * 1024 * 1024;
constexpr int kStartMs = 30000;
// The answers come in pieces with pauses, so a kill can land anywhere in the transfer as well as after it.
constexpr std::size_t kAnswerPiece = 64 * 1024;
constexpr std::size_t kPaperPiece = 128 * 1024;
constexpr int kPieceGapMs = 2;
constexpr unsigned kSeed = 20261208;
// The look for a write's start between waits for the client's end: a wait this long is all the delay it adds.
constexpr int kLookEveryMs = 1;
constexpr int kFullSync = 2;
const char kPaperName[] = "x/p.doc";
const QString kJournal = QStringLiteral("/data/data.mdb-journal");
// Where a paper streams in before it takes its own name: the program's folder inside the download folder.
const QString kPartialFolder = QStringLiteral("/DownLoad/.vextal");
const QString kTemporaryPaper = QStringLiteral("*.part");
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

  // Where a road writes: the import into the catalogue (its rollback journal lives for the whole transaction), the
  // download into the paper's temporary file.
  static bool WriteUnderWay(const char* mode, const QString& folder) {
    if (std::string(mode) == "import") return QFileInfo(folder + kJournal).size() > 0;
    return !QDir(folder + kPartialFolder).entryList({kTemporaryPaper}, QDir::Files | QDir::Hidden).isEmpty();
  }

  // When a run is killed: killAfterMs after its windows are up, or (aimed) after its write was seen to begin; a
  // negative killAfterMs lets it finish.
  struct Kill {
    int afterMs = -1;
    bool aimed = false;
  };
  // How long the road took after the windows were up, and the part of it from the write's start.
  struct Timing {
    qint64 workMs = 0;
    qint64 writeMs = 0;
  };

  // Runs the client until it is done or killed; returns whether it finished its road.
  bool RunClient(const char* mode, const QString& folder, const Kill& kill, Timing* timing = nullptr) {
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
    bool finished = false;
    qint64 writeBegan = -1;
    if (kill.aimed || timing != nullptr) {
      while (!(finished = client.waitForFinished(kLookEveryMs)) && work.elapsed() < kStartMs) {
        if (WriteUnderWay(mode, folder)) {
          writeBegan = work.elapsed();
          break;
        }
      }
      EXPECT_TRUE(writeBegan >= 0 || !kill.aimed) << "the write was never seen to begin";
    }
    if (!finished) finished = client.waitForFinished(kill.afterMs < 0 ? kStartMs : kill.afterMs);
    if (timing != nullptr) {
      timing->workMs = work.elapsed();
      timing->writeMs = writeBegan < 0 ? 0 : timing->workMs - writeBegan;
    }
    if (!finished) {
      client.kill();  // SIGKILL: nothing of the client runs after it
      client.waitForFinished(kStartMs);
    }
    return client.readAll().contains("done");
  }

  // What a kill left beside the catalogue and the papers, seen before anything opens them: a hot journal (a
  // transaction cut short) and a paper's temporary file.
  struct Seen {
    bool journal = false;
    // The journal was synced, so the catalogue file may already hold part of the transaction: the next open must
    // roll it back. (A journal whose header is still zero was never synced; the file is untouched and SQLite ignores
    // it.)
    bool hotJournal = false;
    bool temporaryPaper = false;
  };
  static Seen LeftBeside(const QString& folder) {
    Seen seen;
    QFile journal(folder + kJournal);
    seen.journal = journal.size() > 0;
    char first = 0;
    seen.hotJournal = seen.journal && journal.open(QIODevice::ReadOnly) && journal.read(&first, 1) == 1 && first != 0;
    seen.temporaryPaper = WriteUnderWay("download", folder);
    return seen;
  }

  // The real client started on the folder as a user's start would: it opens the catalogue (rolling back a cut-short
  // transaction), shows the main list and reports how its connection is set up; it clears the temporary files too.
  struct Shown {
    int exitCode = -1;
    bool visible = false;
    int rows = -1;
    QString newest;
    QString journalMode;
    int synchronous = -1;
  };
  static Shown StartClient(const QString& folder) {
    QProcess client;
    client.start(QStringLiteral(VEXTAL_CRASH_CLIENT_PATH), {QStringLiteral("show"), folder});
    EXPECT_TRUE(client.waitForFinished(kStartMs));
    Shown shown;
    shown.exitCode = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    const QStringList words = QString::fromUtf8(client.readAllStandardOutput()).split(QLatin1Char(' '));
    EXPECT_EQ(shown.exitCode, 0) << client.readAllStandardError().toStdString();
    if (words.size() == 10) {
      shown.visible = words[1] == QStringLiteral("1");
      shown.rows = words[3].toInt();
      shown.newest = words[5];
      shown.journalMode = words[7];
      shown.synchronous = words[9].trimmed().toInt();
    }
    return shown;
  }

  // What a killed run left behind; every expectation that holds whatever the moment of the kill.
  struct Left {
    int rows = 0;
    QString newest;  // F_bh of the newest row
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
      EXPECT_TRUE(query.exec(QStringLiteral("select F_ZT, F_bh from VXT_TM order by F_id desc limit 1")) &&
                  query.next());
      left.paperStatus = query.value(0).toString();
      left.newest = query.value(1).toString();
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

  // The real client's start on what a run left, then the catalogue and the papers as it leaves them.
  Left StartAndCheck(const QString& folder, int run) {
    const Shown shown = StartClient(folder);
    const Left left = Check(folder, run);
    EXPECT_TRUE(shown.visible);
    EXPECT_EQ(shown.rows, std::min(kListRows, left.rows));
    EXPECT_EQ(shown.newest, left.newest);
    EXPECT_EQ(shown.journalMode, QStringLiteral("delete"));
    EXPECT_EQ(shown.synchronous, kFullSync);
    const Seen after = LeftBeside(folder);
    EXPECT_FALSE(after.hotJournal) << "the start did not roll back a transaction cut short";
    EXPECT_FALSE(after.temporaryPaper) << "the start left an interrupted download's file";
    return left;
  }

  // Judges what one run left: the catalogue and papers after the start, whether the road finished, and what the kill
  // left beside them before anything opened them.
  using Judge = std::function<void(const Left&, bool finished, const Seen&)>;

  // One run to the end to learn how long the road and its write take, then kKills killed runs, every other one aimed
  // inside the write. Returns how many kills were seen to land inside the write.
  int KillRepeatedly(const char* mode, const Judge& judge) {
    Timing timing;
    const QString calibration = NewFolder(0);
    EXPECT_TRUE(RunClient(mode, calibration, Kill{}, &timing));
    EXPECT_GT(timing.writeMs, 0) << "the write was never seen";
    judge(StartAndCheck(calibration, 0), true, Seen{});
    std::mt19937 random(kSeed);
    // A little past the end too: a kill after the last write must find everything in place.
    std::uniform_int_distribution<int> anyMoment(0, static_cast<int>(timing.workMs + timing.workMs / 5) + 1);
    std::uniform_int_distribution<int> writeMoment(0, static_cast<int>(std::max<qint64>(timing.writeMs, 1)) - 1);
    int inside = 0;
    int hot = 0;
    for (int run = 1; run <= kKills; ++run) {
      SCOPED_TRACE(run);
      const QString folder = NewFolder(run);
      const bool aimed = run % 2 == 0;
      const bool finished = RunClient(mode, folder, Kill{aimed ? writeMoment(random) : anyMoment(random), aimed});
      const Seen seen = LeftBeside(folder);
      if (WriteUnderWay(mode, folder)) ++inside;
      if (seen.hotJournal) ++hot;
      judge(StartAndCheck(folder, run), finished, seen);
    }
    std::cout << mode << ": the road took " << timing.workMs << " ms, its write " << timing.writeMs << " ms; "
              << inside << " of " << kKills << " kills landed inside the write, " << hot
              << " left a synced journal to roll back\n";
    EXPECT_GE(inside, kAimedKillsInsideAtLeast) << "too few kills landed inside the write to show anything";
    return inside;
  }

  testsupport::LoopbackServer m_server;
  QTemporaryDir m_dir;
  QString m_template;
  QByteArray m_paper;
};

TEST_F(CrashSafetyTest, AKilledImportLeavesTheWholeBatchOrNoneOfIt) {
  int none = 0;
  int all = 0;
  KillRepeatedly("import", [&](const Left& left, bool finished, const Seen& seen) {
    EXPECT_TRUE(left.rows == kBaseRows || left.rows == kBaseRows + kRecords) << left.rows << " rows";
    if (finished) {
      EXPECT_EQ(left.rows, kBaseRows + kRecords);
    }
    // A transaction cut short is rolled back whole, however much of it had reached the file.
    if (seen.journal) {
      EXPECT_EQ(left.rows, kBaseRows);
    }
    (left.rows == kBaseRows ? none : all) += 1;
  });
  std::cout << "import killed " << kKills << " times: " << none << " left none of the batch, " << all
            << " all of it\n";
}

TEST_F(CrashSafetyTest, AKilledDownloadLeavesNoTruncatedPaper) {
  int before = 0;
  int after = 0;
  KillRepeatedly("download", [&](const Left& left, bool finished, const Seen& seen) {
    EXPECT_EQ(left.rows, kBaseRows);
    EXPECT_TRUE(left.paperStatus == kDownload || left.paperStatus == kOpen) << left.paperStatus.toStdString();
    // The row is marked only once the whole file is in place under its name.
    if (left.paperStatus == kOpen) {
      EXPECT_TRUE(left.paperFile);
    }
    // Killed while the paper streamed in: nothing under its name, the row still to download.
    if (seen.temporaryPaper) {
      EXPECT_FALSE(left.paperFile);
      EXPECT_EQ(left.paperStatus, kDownload);
    }
    if (seen.journal) {
      EXPECT_EQ(left.paperStatus, kDownload);
    }
    if (finished) {
      EXPECT_EQ(left.paperStatus, kOpen);
    }
    (left.paperStatus == kOpen ? after : before) += 1;
  });
  std::cout << "download killed " << kKills << " times: " << before << " before the row was marked, " << after
            << " after\n";
}

// A catalogue another tool switched to a write-ahead log opens, with its journal put back.
constexpr bool kOpensAWriteAheadLog = true;

// The catalogue's connection runs with a rollback journal deleted at each commit and with full sync however the file
// was left: new, as the program leaves it, or switched to a write-ahead log by another tool.
TEST(CatalogueDurability, EveryOpenRunsWithADeletedJournalAndFullSync) {
  struct Case {
    const char* label;
    bool exists;
    const char* otherTool;  // what another tool did to the file before the open, if anything
    bool opens = true;
  };
  const Case cases[] = {
      {"new file", false, nullptr},
      {"as the program left it", true, nullptr},
      {"switched to a write-ahead log", true, "pragma journal_mode = wal", kOpensAWriteAheadLog},
  };
  for (const Case& c : cases) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.mdb"));
    if (c.exists) {
      store::OpenCatalogue(path, QStringLiteral("durability-before")).close();
      QSqlDatabase::removeDatabase(QStringLiteral("durability-before"));
    }
    if (c.otherTool != nullptr) {
      {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("durability-tool"));
        other.setDatabaseName(path);
        EXPECT_TRUE(other.open()) << c.label;
        EXPECT_TRUE(QSqlQuery(other).exec(QString::fromLatin1(c.otherTool))) << c.label;
        other.close();
      }
      QSqlDatabase::removeDatabase(QStringLiteral("durability-tool"));
    }
    if (!c.opens) {
      EXPECT_THROW(store::OpenCatalogue(path, QStringLiteral("durability")), store::DatabaseError) << c.label;
      QSqlDatabase::removeDatabase(QStringLiteral("durability"));
      continue;
    }
    {
      QSqlDatabase db = store::OpenCatalogue(path, QStringLiteral("durability"));
      QSqlQuery query(db);
      EXPECT_TRUE(query.exec(QStringLiteral("pragma journal_mode")) && query.next()) << c.label;
      EXPECT_EQ(query.value(0).toString(), QStringLiteral("delete")) << c.label;
      EXPECT_TRUE(query.exec(QStringLiteral("pragma synchronous")) && query.next()) << c.label;
      EXPECT_EQ(query.value(0).toInt(), kFullSync) << c.label;
      db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("durability"));
  }
}

}  // namespace
