// The real client killed with SIGKILL at moments of an import and of a download: half of them at random over the whole
// road, half aimed inside its write (once the catalogue's journal, or the paper's partial file, is there). Whatever
// the moment, the catalogue opens and passes SQLite's integrity check, every row is whole, the import's records are
// all there or none of them (the import posts the whole answer in one transaction, so a kill before its commit leaves
// the catalogue as it was, and one after leaves every record), and no paper lies truncated under its final name. What
// each kill left is looked at before anything opens the catalogue, so the kills inside a write are counted, not
// assumed; then the real client starts on the killed catalogue and must show its list.
//
// The download goes two roads: a server that sends the paper whole without a validator, so nothing of a broken
// download is kept, and one that sends it with a strong ETag and answers a range with the rest. There a kill may leave
// a partial file and its record for the next download; the runs of that road also start from what an earlier broken
// download kept (of this version of the paper, or of an older one the server no longer has), and some end exactly
// before or after each step the download takes on the program's folder, which lie too close together for a kill from
// outside to find. Every record seen must speak for the bytes beside it; the start keeps a partial file only while it
// can be resumed; and the download run once more after the start completes the paper, fetching only what was not kept.
#include "download/answer_rules.h"
#include "download/partial_file.h"
#include "store/catalogue.h"
#include "tests/crash/kill_step.h"
#include "tests/support/loopback_server.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

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
// Where the client fetches the paper the file-name page names.
const std::string kUploadPath = "/Upload/";
const QString kJournal = QStringLiteral("/data/data.mdb-journal");
// Where a paper streams in before it takes its own name: the program's folder inside the download folder.
const QString kPartialFolder = QStringLiteral("/DownLoad/.vextal");
const QString kTemporaryPaper = QStringLiteral("*.part");
const QString kDownload = QStringLiteral("下载");
const QString kOpen = QStringLiteral("打开");

// The resumable road's paper carries this strong ETag; an older version of it, which the server no longer has, had
// the other.
const std::string kPaperTag = "\"paper-2\"";
const std::string kOlderTag = "\"paper-1\"";
constexpr std::size_t kOlderPaperBytes = 3 * 1024 * 1024;
// What an earlier broken download kept of a version; no multiple of the pieces, so a partial file written anew is
// never caught at this length by the look for a write's start.
constexpr std::size_t kKeptBytes = 1000003;
// A download that takes more steps than this on the program's folder is going round in circles.
constexpr int kStepsAtMost = 16;

std::string UpdateAnswer() {
  std::string answer;
  for (int i = 1; i <= kRecords; ++i) {
    const std::string n = std::to_string(kBaseRows + i);
    answer += "<tr><F_id>" + n + "</F_id><F_SJMC>T" + n + "</F_SJMC><F_KM>K</F_KM><F_ZFL1>S</F_ZFL1><F_LB>C</F_LB>" +
              "<F_MS>M" + n + "</F_MS>\r\n";
  }
  return answer;
}

// A version of the paper: a short cycle of letters, so a prefix of one version is never a prefix of the other.
std::string PaperVersion(std::size_t bytes, char first, int letters) {
  std::string paper(bytes, '\0');
  for (std::size_t i = 0; i < paper.size(); ++i) paper[i] = static_cast<char>(first + i % letters);
  return paper;
}

// A request header's value, empty when there is none; names are matched without regard to case, as HTTP has them.
std::string RequestHeader(const std::string& request, const std::string& name) {
  const auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
  };
  const std::string key = "\r\n" + lower(name) + ":";
  const std::size_t at = lower(request).find(key);
  if (at == std::string::npos) return {};
  const std::size_t start = request.find_first_not_of(' ', at + key.size());
  return request.substr(start, request.find("\r\n", start) - start);
}

// The first byte of "bytes=N-"; -1 for no range or any other form, which the server answers with the whole paper.
std::int64_t RangeStart(const std::string& range) {
  constexpr std::string_view kUnit = "bytes=";
  if (!range.starts_with(kUnit) || !range.ends_with('-')) return -1;
  const char* const end = range.data() + range.size() - 1;
  std::int64_t first = -1;
  const auto [stop, error] = std::from_chars(range.data() + kUnit.size(), end, first);
  return error == std::errc() && stop == end ? first : -1;
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// What a run's download folder starts with: nothing of the paper, or what a broken download kept of this version of
// it or of the older one.
enum class Kept { kNothing, kThisVersion, kOlderVersion };
constexpr Kept kEveryStart[] = {Kept::kNothing, Kept::kThisVersion, Kept::kOlderVersion};

// How the server sends the paper: whole without a validator, or with its ETag, answering ranges.
struct PaperRoad {
  const char* name;
  bool resumable;
};

void PrintTo(const PaperRoad& road, std::ostream* out) { *out << road.name; }

class CrashSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_server.SetHandler([this](const std::string& request) { return Serve(request); });
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

  Answer Serve(const std::string& request) {
    if (request.find("ZPR_UpCount.asp") != std::string::npos) {
      return testsupport::SplitAnswer(OkResponse(m_updateAnswer), kAnswerPiece, kPieceGapMs);
    }
    if (request.find("ZPR_BhToDown.asp") != std::string::npos) return Answer{Action::Send(OkResponse(kPaperName))};
    return testsupport::SplitAnswer(PaperAnswer(request), kPaperPiece, kPieceGapMs);
  }

  // The paper as the road sends it, counting the bytes of its body. A range is answered only when If-Range, if sent,
  // names this version: the rest of another version's bytes would make a paper that never existed.
  std::string PaperAnswer(const std::string& request) {
    const auto size = static_cast<std::int64_t>(m_paper.size());
    if (!m_resumable) {
      m_paperBodyBytes += size;
      return OkResponse(m_paper);
    }
    const std::string tag = "ETag: " + kPaperTag + "\r\n";
    const std::int64_t first = RangeStart(RequestHeader(request, "Range"));
    const std::string ifRange = RequestHeader(request, "If-Range");
    if (first < 0 || (!ifRange.empty() && ifRange != kPaperTag)) {
      m_paperBodyBytes += size;
      return OkResponse(m_paper, tag);
    }
    if (first >= size) {
      return "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\nContent-Range: bytes */" +
             std::to_string(size) + "\r\n\r\n";
    }
    const std::string rest = m_paper.substr(static_cast<std::size_t>(first));
    m_paperBodyBytes += static_cast<std::int64_t>(rest.size());
    return "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(rest.size()) + "\r\nContent-Range: bytes " +
           std::to_string(first) + "-" + std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n" + tag +
           "\r\n" + rest;
  }

  std::string PaperUrl() const { return m_server.Url(kUploadPath + kPaperName); }

  // One run's working folder, and what its download folder started with.
  struct RunFolder {
    QString path;
    int number = 0;
    Kept kept = Kept::kNothing;
  };

  // A working folder of its own with a fresh copy of the catalogue and a download folder holding what `kept` says:
  // a partial file and its record, as a download broken a moment ago left them.
  RunFolder NewFolder(int run, Kept kept = Kept::kNothing) {
    const QString folder = m_dir.filePath(QStringLiteral("run%1").arg(run));
    EXPECT_TRUE(QDir().mkpath(folder + QStringLiteral("/data")));
    EXPECT_TRUE(QDir().mkpath(folder + QStringLiteral("/DownLoad")));
    EXPECT_TRUE(QFile::copy(m_template, folder + QStringLiteral("/data/data.mdb")));
    if (kept != Kept::kNothing) {
      const bool older = kept == Kept::kOlderVersion;
      const std::string& version = older ? m_olderPaper : m_paper;
      EXPECT_TRUE(QDir().mkpath(folder + kPartialFolder));
      const fs::path partial = download::PartialPathFor(PartialFolder(folder), PaperUrl());
      EXPECT_TRUE(WriteFile(partial, version.substr(0, kKeptBytes)));
      const download::ResumeRecord record{PaperUrl(), older ? kOlderTag : kPaperTag,
                                          static_cast<std::int64_t>(version.size())};
      EXPECT_TRUE(WriteFile(download::RecordPathOf(partial), download::ResumeRecordText(record)));
    }
    return {folder, run, kept};
  }

  static fs::path PartialFolder(const QString& folder) {
    return QFileInfo(folder + kPartialFolder).filesystemAbsoluteFilePath();
  }

  // Where a road writes: the import into the catalogue (its rollback journal lives for the whole transaction), the
  // download into the paper's partial file (one appears, or the one the run started with changes length).
  static bool WriteUnderWay(const char* mode, const RunFolder& run) {
    if (std::string(mode) == "import") return QFileInfo(run.path + kJournal).size() > 0;
    const QFileInfoList partials =
        QDir(run.path + kPartialFolder).entryInfoList({kTemporaryPaper}, QDir::Files | QDir::Hidden);
    return std::any_of(partials.begin(), partials.end(), [&run](const QFileInfo& partial) {
      return run.kept == Kept::kNothing || partial.size() != static_cast<qint64>(kKeptBytes);
    });
  }

  // When a run is killed: killAfterMs after its windows are up, or (aimed) after its write was seen to begin; a
  // negative killAfterMs lets it finish. A step other than 0 has the client end itself just before, or just after,
  // that step on the program's folder instead.
  struct Kill {
    int afterMs = -1;
    bool aimed = false;
    int step = 0;
    bool afterStep = false;
  };
  // How long the road took after the windows were up, and the part of it from the write's start.
  struct Timing {
    qint64 workMs = 0;
    qint64 writeMs = 0;
  };

  // Runs the client until it is done or killed; returns whether it finished its road.
  bool RunClient(const char* mode, const RunFolder& run, const Kill& kill, Timing* timing = nullptr) {
    QProcess client;
    // Its warnings (the offscreen platform has a few) would bury the test's own output.
    client.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QLatin1String(crashtest::kKillAtVariable));
    if (kill.step > 0) {
      environment.insert(QLatin1String(crashtest::kKillAtVariable),
                         QStringLiteral("%1 %2").arg(kill.step).arg(QLatin1String(
                             kill.afterStep ? crashtest::kAfterStep : crashtest::kBeforeStep)));
    }
    client.setProcessEnvironment(environment);
    client.start(QStringLiteral(VEXTAL_CRASH_CLIENT_PATH),
                 {QString::fromLatin1(mode), run.path, QString::fromStdString(m_server.Url(""))});
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
        if (WriteUnderWay(mode, run)) {
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

  // What the program's folder in the download folder holds: the paper's partial file, its record (as the program
  // reads it), and whatever else.
  struct Partials {
    bool folder = false;
    std::optional<std::string> bytes;
    bool record = false;
    std::optional<download::ResumeRecord> recordRead;
    QStringList others;
  };
  Partials PartialsIn(const QString& folder) const {
    Partials seen;
    const QDir dir(folder + kPartialFolder);
    seen.folder = dir.exists();
    if (!seen.folder) return seen;
    const fs::path partial = download::PartialPathFor(PartialFolder(folder), PaperUrl());
    const fs::path record = download::RecordPathOf(partial);
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
      if (name.toStdString() == partial.filename().string()) {
        std::ifstream in(partial, std::ios::binary);
        seen.bytes = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      } else if (name.toStdString() == record.filename().string()) {
        seen.record = true;
        seen.recordRead = download::ReadRecord(record);
      } else {
        seen.others << name;
      }
    }
    return seen;
  }

  // What a kill left beside the catalogue and the papers, seen before anything opens them: a hot journal (a
  // transaction cut short), a paper's partial file being written, and what the program's folder holds.
  struct Seen {
    bool journal = false;
    // The journal was synced, so the catalogue file may already hold part of the transaction: the next open must
    // roll it back. (A journal whose header is still zero was never synced; the file is untouched and SQLite ignores
    // it.)
    bool hotJournal = false;
    bool temporaryPaper = false;
    Partials partials;
  };
  Seen LeftBeside(const RunFolder& run) const {
    Seen seen;
    QFile journal(run.path + kJournal);
    seen.journal = journal.size() > 0;
    char first = 0;
    seen.hotJournal = seen.journal && journal.open(QIODevice::ReadOnly) && journal.read(&first, 1) == 1 && first != 0;
    seen.temporaryPaper = WriteUnderWay("download", run);
    seen.partials = PartialsIn(run.path);
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
    Seen after;  // beside the catalogue once the start is through
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
      EXPECT_TRUE(paper.readAll().toStdString() == m_paper) << "a truncated paper under its final name";
    }
    return left;
  }

  // The real client's start on what a run left, then the catalogue and the papers as it leaves them.
  Left StartAndCheck(const RunFolder& run) {
    const Shown shown = StartClient(run.path);
    Left left = Check(run.path, run.number);
    EXPECT_TRUE(shown.visible);
    EXPECT_EQ(shown.rows, std::min(kListRows, left.rows));
    EXPECT_EQ(shown.newest, left.newest);
    EXPECT_EQ(shown.journalMode, QStringLiteral("delete"));
    EXPECT_EQ(shown.synchronous, kFullSync);
    left.after = LeftBeside(run);
    EXPECT_FALSE(left.after.hotJournal) << "the start did not roll back a transaction cut short";
    return left;
  }

  // A record seen in the program's folder speaks for the bytes beside it: it names the paper's address and a version
  // the server sent (the older one only where the run started from it), with that version's length, and the bytes
  // are a beginning of that version.
  void ExpectHonestRecord(const RunFolder& run, const Partials& partials, const char* when) const {
    SCOPED_TRACE(when);
    if (!partials.record) return;
    ASSERT_TRUE(partials.recordRead) << "a record the program cannot read";
    const download::ResumeRecord& record = *partials.recordRead;
    EXPECT_EQ(record.url, PaperUrl());
    const bool older = run.kept == Kept::kOlderVersion && record.validator == kOlderTag;
    EXPECT_TRUE(older || record.validator == kPaperTag) << record.validator;
    const std::string& version = older ? m_olderPaper : m_paper;
    EXPECT_EQ(record.total, static_cast<std::int64_t>(version.size()));
    if (partials.bytes) {
      EXPECT_TRUE(version.starts_with(*partials.bytes)) << "a record beside bytes of another answer";
    }
  }

  static bool Resumable(const std::string& url, const Partials& partials) {
    return partials.bytes && partials.recordRead &&
           download::CanResume(*partials.recordRead, url, static_cast<std::int64_t>(partials.bytes->size()));
  }

  // What a kill left in the program's folder, as the summary counts it.
  enum class Leftover { kNothing, kResumable, kBarePartial, kLoneRecord, kSpentRecord };
  using LeftoverCounts = std::map<Leftover, int>;

  // Judges the program's folder after a kill and after the start: every record honest; the start keeps a partial
  // file and its record exactly when they can be resumed, removes everything else, and the folder with it.
  Leftover JudgeKept(const RunFolder& run, const Partials& before, const Partials& after) const {
    ExpectHonestRecord(run, before, "after the kill");
    ExpectHonestRecord(run, after, "after the start");
    EXPECT_TRUE(after.others.isEmpty()) << "the start left " << after.others.join(QStringLiteral(", ")).toStdString();
    const bool resumable = Resumable(PaperUrl(), before);
    if (resumable) {
      EXPECT_TRUE(after.bytes == before.bytes && after.record) << "the start threw away a partial it could resume";
    } else {
      EXPECT_FALSE(after.bytes) << "the start kept a partial that cannot be resumed";
      EXPECT_FALSE(after.record) << "the start kept a record without its partial";
      EXPECT_TRUE(!after.folder || !after.others.isEmpty()) << "the start left the program's folder empty";
    }
    if (resumable) return Leftover::kResumable;
    if (before.bytes) return before.record ? Leftover::kSpentRecord : Leftover::kBarePartial;
    return before.record ? Leftover::kLoneRecord : Leftover::kNothing;
  }

  // The download run once more to its end after the start: whether it finished, the paper's requests it made (the
  // last one's Range and If-Range), and the bytes of the paper's body the server sent for it.
  struct Again {
    bool finished = false;
    int paperRequests = 0;
    std::string range;
    std::string ifRange;
    std::int64_t bodyBytes = 0;
  };
  // It completes the paper, asking for the rest of what the start kept, and is sent only what was not kept of this
  // version (an older version's bytes are asked after, and the server answers with the whole paper).
  Again DownloadAgain(const RunFolder& run, const Partials& kept) {
    const std::size_t earlier = m_server.Requests().size();
    m_paperBodyBytes = 0;
    Again again;
    again.finished = RunClient("download", run, Kill{});
    again.bodyBytes = m_paperBodyBytes;
    const std::vector<std::string> requests = m_server.Requests();
    for (std::size_t i = earlier; i < requests.size(); ++i) {
      if (!requests[i].starts_with("GET " + kUploadPath)) continue;
      ++again.paperRequests;
      again.range = RequestHeader(requests[i], "Range");
      again.ifRange = RequestHeader(requests[i], "If-Range");
    }
    const bool resumable = Resumable(PaperUrl(), kept);
    const std::int64_t keptBytes = resumable ? static_cast<std::int64_t>(kept.bytes->size()) : 0;
    const bool thisVersion = resumable && kept.recordRead->validator == kPaperTag;
    EXPECT_TRUE(again.finished);
    EXPECT_EQ(again.paperRequests, 1);
    EXPECT_EQ(again.range, resumable ? "bytes=" + std::to_string(keptBytes) + "-" : std::string());
    EXPECT_EQ(again.ifRange, resumable ? kept.recordRead->validator : std::string());
    EXPECT_EQ(again.bodyBytes, static_cast<std::int64_t>(kPaperBytes) - (thisVersion ? keptBytes : 0));
    const Left done = Check(run.path, run.number);
    EXPECT_EQ(done.paperStatus, kOpen);
    EXPECT_TRUE(done.paperFile);
    EXPECT_FALSE(PartialsIn(run.path).folder) << "the finished download left the program's folder";
    return again;
  }

  // Judges what one run left: the catalogue and papers after the start, whether the road finished, and what the kill
  // left beside them before anything opened them.
  using Judge = std::function<void(const RunFolder&, const Left&, bool finished, const Seen&)>;

  // One run to the end to learn how long the road and its write take, then kKills killed runs, every other one aimed
  // inside the write; a resumable road's runs start in turn from every kind of kept bytes, and then, from each, kill
  // before and after every step on the program's folder. Returns how many of the timed kills were seen to land
  // inside the write.
  int KillRepeatedly(const char* mode, const Judge& judge, bool resumable = false) {
    Timing timing;
    const RunFolder calibration = NewFolder(0);
    EXPECT_TRUE(RunClient(mode, calibration, Kill{}, &timing));
    EXPECT_GT(timing.writeMs, 0) << "the write was never seen";
    judge(calibration, StartAndCheck(calibration), true, Seen{});
    std::mt19937 random(kSeed);
    // A little past the end too: a kill after the last write must find everything in place.
    std::uniform_int_distribution<int> anyMoment(0, static_cast<int>(timing.workMs + timing.workMs / 5) + 1);
    std::uniform_int_distribution<int> writeMoment(0, static_cast<int>(std::max<qint64>(timing.writeMs, 1)) - 1);
    int run = 0;
    int inside = 0;
    int hot = 0;
    // Runs the client to the kill and judges it; returns whether it finished its road all the same.
    const auto killOnce = [&](Kept kept, const Kill& kill, bool timed) {
      const RunFolder folder = NewFolder(++run, kept);
      testing::Message trace;
      trace << "run " << run;
      if (kill.step > 0) trace << " killed " << (kill.afterStep ? "after" : "before") << " step " << kill.step;
      SCOPED_TRACE(trace);
      const bool finished = RunClient(mode, folder, kill);
      const Seen seen = LeftBeside(folder);
      if (timed && WriteUnderWay(mode, folder)) ++inside;
      if (seen.hotJournal) ++hot;
      judge(folder, StartAndCheck(folder), finished, seen);
      return finished;
    };
    for (int timed = 1; timed <= kKills; ++timed) {
      const bool aimed = timed % 2 == 0;
      const Kept kept = resumable ? kEveryStart[(timed / 2) % std::size(kEveryStart)] : Kept::kNothing;
      killOnce(kept, Kill{aimed ? writeMoment(random) : anyMoment(random), aimed}, true);
    }
    int stepKills = 0;
    for (const Kept kept : kEveryStart) {
      if (!resumable) break;
      // Until a run is found to take no step of that number: it finishes its road.
      int step = 1;
      for (; step <= kStepsAtMost && !killOnce(kept, Kill{.step = step}, false); ++step) {
        EXPECT_FALSE(killOnce(kept, Kill{.step = step, .afterStep = true}, false)) << "it went on after the kill";
        stepKills += 2;
      }
      ++stepKills;
      EXPECT_LE(step, kStepsAtMost) << "the download's steps never ended";
    }
    std::cout << mode << ": the road took " << timing.workMs << " ms, its write " << timing.writeMs << " ms; "
              << inside << " of " << kKills << " timed kills landed inside the write, " << hot
              << " left a synced journal to roll back";
    if (resumable) std::cout << "; " << stepKills << " more kills at its steps on the program's folder";
    std::cout << "\n";
    EXPECT_GE(inside, kAimedKillsInsideAtLeast) << "too few kills landed inside the write to show anything";
    return inside;
  }

  const std::string m_paper = PaperVersion(kPaperBytes, 'a', 23);
  const std::string m_olderPaper = PaperVersion(kOlderPaperBytes, 'A', 19);
  const std::string m_updateAnswer = UpdateAnswer();
  // Whether the server sends the paper with its ETag and answers ranges; and the bytes of paper bodies it answered.
  std::atomic<bool> m_resumable{false};
  std::atomic<std::int64_t> m_paperBodyBytes{0};
  QTemporaryDir m_dir;
  QString m_template;
  // Last, so it stops before anything its handler reads goes.
  testsupport::LoopbackServer m_server;
};

TEST_F(CrashSafetyTest, AKilledImportLeavesTheWholeBatchOrNoneOfIt) {
  int none = 0;
  int all = 0;
  KillRepeatedly("import", [&](const RunFolder&, const Left& left, bool finished, const Seen& seen) {
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

class CrashDownloadTest : public CrashSafetyTest, public ::testing::WithParamInterface<PaperRoad> {};

TEST_P(CrashDownloadTest, AKilledDownloadLeavesNoTruncatedPaper) {
  const bool resumable = GetParam().resumable;
  m_resumable = resumable;
  int before = 0;
  int after = 0;
  LeftoverCounts leftover;
  int again = 0;
  int resumed = 0;
  std::int64_t fetchedAgain = 0;
  KillRepeatedly(
      "download",
      [&](const RunFolder& run, const Left& left, bool finished, const Seen& seen) {
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
        // Without a validator nothing is kept, so no record is ever written.
        if (!resumable) {
          EXPECT_FALSE(seen.partials.record);
        }
        ++leftover[JudgeKept(run, seen.partials, left.after.partials)];
        // Without a validator the next download is a first one again, which the road's own runs already show.
        if (left.paperStatus == kOpen || !resumable) return;
        const Again download = DownloadAgain(run, left.after.partials);
        ++again;
        resumed += download.range.empty() ? 0 : 1;
        fetchedAgain += download.bodyBytes;
      },
      resumable);
  std::cout << "download " << GetParam().name << " killed " << before + after << " times: " << before
            << " before the row was marked, " << after << " after; in the program's folder "
            << leftover[Leftover::kResumable] << " left a resumable partial, " << leftover[Leftover::kBarePartial]
            << " a bare partial, " << leftover[Leftover::kLoneRecord] << " a record without its partial, "
            << leftover[Leftover::kSpentRecord] << " a record beside bytes it cannot resume, "
            << leftover[Leftover::kNothing] << " nothing\n";
  if (!resumable) return;
  std::cout << "download " << GetParam().name << ": " << again << " downloads after the start fetched "
            << fetchedAgain << " bytes, " << resumed << " of them asking for the rest\n";
  // The steps make each of these certain, whatever the machine's pace: a partial emptied before its record came, a
  // paper put in place before its record went, and a partial kept that the next download continued.
  EXPECT_GT(leftover[Leftover::kBarePartial], 0);
  EXPECT_GT(leftover[Leftover::kLoneRecord], 0);
  EXPECT_GT(leftover[Leftover::kResumable], 0);
  EXPECT_GT(resumed, 0);
}

INSTANTIATE_TEST_SUITE_P(PaperRoads, CrashDownloadTest,
                         ::testing::Values(PaperRoad{"WholeWithoutValidator", false},
                                           PaperRoad{"WithETagAndRanges", true}),
                         [](const ::testing::TestParamInfo<PaperRoad>& info) { return std::string(info.param.name); });

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
