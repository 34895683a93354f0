#include "download/partial_file.h"
#include "exchange/download_folder.h"
#include "exchange/paper_download_window.h"

#include "net/pump_policy.h"
#include "store/catalogue.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "tests/exchange/download_fixture.h"
#include "tests/support/loopback_server.h"
#include "tests/support/qt_fakes.h"
#include "tests/support/qt_files.h"
#include "ui/locale_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Action;
using testsupport::FilesUnder;
using testsupport::OkResponse;

const QString kDownload = QStringLiteral("下载");
const QString kOpen = QStringLiteral("打开");
const QString kNoFile = QStringLiteral("暂无资源");
const std::string kFileNamePage = "GET /admin/ZPR_BhToDown.asp?bh=";
constexpr int kSilentLinkMs = 300;

std::string RequestLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

class PaperDownloadTest : public DownloadFolderTest {
 protected:
  // Adds a paper; the list, newest first, is reopened with the new row current.
  qint64 Insert(const QString& bh, const QString& status = kDownload, const QString& time = {},
                const QString& file = {}) {
    QSqlQuery insert(Database());
    insert.prepare(QStringLiteral("insert into VXT_TM (F_bh, F_SJMC, F_ZT, F_GXSJ, F_BDWJ) values (?, ?, ?, ?, ?)"));
    for (const QString& value : {bh, QStringLiteral("试卷") + bh, status, time, file}) insert.addBindValue(value);
    EXPECT_TRUE(insert.exec());
    list->Refresh();
    return list->CurrentId();
  }

  QString Field(qint64 id, const char* name) const {
    return list->FieldAsText(list->RowOfId(id), QString::fromLatin1(name));
  }

  void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }

  // A fresh window; the one before goes first, or its pump policy, in force for the process, would leave with it and
  // no wait of the new window would serve the event queue.
  void NewWindow() {
    form.reset();
    form = std::make_unique<exchange::PaperDownloadWindow>(list.get(), nullptr);
  }

  // A fresh window pointed at the server, shown and ticked at the 28 reading.
  void RunDownload(const testsupport::LoopbackServer& server) {
    NewWindow();
    form->SetContentServer(server.Url(""));
    // A server silent for this long has gone; the program's own limit is far longer than a test should wait.
    form->Client().ReadTimeout = kSilentLinkMs;
    // Pauses before another try are recorded, never slept; without retries a test sees each failure once.
    form->SetRetryPause([this](int ms) {
      pauses.push_back(ms);
      return retries;
    });
    form->show();
    fakes.clock.AdvanceMs(1500);
    form->OnCountdownTick();
  }

  std::vector<int> pauses;
  bool retries = false;

};

TEST_F(PaperDownloadTest, FetchesTheAnswerVerbatimAndStoresItWithoutTheFirstSegment) {
  struct Case {
    const char* label;
    std::string answer;
    std::string requestLine;
    QString file;  // relative to DownLoad, as F_BDWJ records it
  };
  const std::vector<Case> cases = {
      {"folder and file", "2009/paper.doc", "GET /Upload/2009/paper.doc HTTP/1.1", QStringLiteral("paper.doc")},
      {"no folder", "paper.doc", "GET /Upload/paper.doc HTTP/1.1", QStringLiteral("paper.doc")},
      {"existing sub-folder", "2009/sub/p.doc", "GET /Upload/2009/sub/p.doc HTTP/1.1", QStringLiteral("sub/p.doc")},
      {"GBK name with a blank", "\xB8\xDF\xBF\xBC/\xD3\xEF\xCE\xC4 A.doc",
       "GET /Upload/\xB8\xDF\xBF\xBC/\xD3\xEF\xCE\xC4%20A.doc HTTP/1.1", QStringLiteral("语文 A.doc")},
      {"several blanks", "2024/a  b .doc", "GET /Upload/2024/a%20%20b%20.doc HTTP/1.1", QStringLiteral("a  b .doc")},
      {"fragment mark", "2024/#2.doc", "GET /Upload/2024/%232.doc HTTP/1.1", QStringLiteral("#2.doc")},
      {"backslash", "sub\\b.doc", "GET /Upload/sub/b.doc HTTP/1.1", QStringLiteral("sub/b.doc")},
  };
  ASSERT_TRUE(QDir().mkpath(InFolder(QStringLiteral("sub"))));
  int number = 1000;
  for (const Case& c : cases) {
    const QString bh = QString::number(++number);
    const qint64 id = Insert(bh);
    const std::string body = "paper " + std::string(c.label) + std::string(70000, 'x');
    testsupport::LoopbackServer server;
    server.Enqueue({Action::Send(OkResponse(c.answer))});
    // As standard servers do, a request line that a raw blank splits into more than three parts is refused.
    server.SetHandler([&body](const std::string& request) -> testsupport::Answer {
      const std::string line = RequestLine(request);
      if (std::count(line.begin(), line.end(), ' ') != 2) {
        return {Action::Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")};
      }
      return {Action::Send(OkResponse(body))};
    });

    RunDownload(server);

    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u) << c.label;
    EXPECT_EQ(RequestLine(requests[0]), kFileNamePage + bh.toStdString() + " HTTP/1.1") << c.label;
    EXPECT_EQ(RequestLine(requests[1]), c.requestLine) << c.label;
    QFile file(InFolder(c.file));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.label;
    EXPECT_EQ(file.readAll().toStdString(), body) << c.label;
    EXPECT_EQ(Field(id, "F_ZT"), kOpen) << c.label;
    EXPECT_EQ(Field(id, "F_GXSJ"), exchange::PaperDownloadWindow::DownloadTimeText(fakes.clock.now)) << c.label;
    EXPECT_EQ(Field(id, "F_BDWJ"), c.file) << c.label;
    EXPECT_EQ(form->ProgressBar->value(), static_cast<int>(body.size())) << c.label;
    EXPECT_FALSE(form->isVisible()) << c.label;
    EXPECT_FALSE(form->CountdownTimer->isActive()) << c.label;
  }
  // Nothing but the papers themselves: no temporary file stays behind.
  EXPECT_EQ(FilesUnder(Folder()).keys(), QStringList({"#2.doc", "a  b .doc", "paper.doc", "sub/b.doc", "sub/p.doc",
                                                      QStringLiteral("语文 A.doc")}));
  EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty());
}

TEST_F(PaperDownloadTest, EmptyAnswerMarksThePaperWithoutResourceAndFetchesNothing) {
  const qint64 id = Insert(QStringLiteral("1001"));
  testsupport::LoopbackServer server;
  server.Enqueue({Action::Send(OkResponse(""))});

  RunDownload(server);

  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(Field(id, "F_ZT"), kNoFile);
  EXPECT_EQ(Field(id, "F_GXSJ"), QString());
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->CountdownTimer->isActive());
  EXPECT_TRUE(FilesUnder(Folder()).isEmpty());
}

TEST_F(PaperDownloadTest, AsksForThePaperByItsNumberAsTheServerWroteIt) {
  struct Case {
    QString stored;
    std::string bh;
  };
  const std::vector<Case> cases = {
      {"0012", "0012"},
      {"123456789012345678901234567890", "123456789012345678901234567890"},
      {"abc", "abc"},
      // Whatever the server sent, it cannot end the request line early or add header lines.
      {"  7", "%20%207"},
      {"7 x\r\nEvil: 1", "7%20x%0D%0AEvil:%201"},
  };
  for (const Case& c : cases) {
    Insert(c.stored);
    testsupport::LoopbackServer server;
    server.Enqueue({Action::Send(OkResponse(""))});

    RunDownload(server);

    ASSERT_EQ(server.Requests().size(), 1u) << c.bh;
    EXPECT_EQ(RequestLine(server.Requests()[0]), kFileNamePage + c.bh + " HTTP/1.1");
  }
}

// The user deletes the paper (Ctrl+Delete) while a request of its download waits: the download ends at once, records
// nothing, and leaves nothing of the paper's file behind.
TEST_F(PaperDownloadTest, APaperDeletedDuringItsDownloadRecordsNothingAndTheWindowHides) {
  const std::string body(70000, 'p');
  const std::string name = OkResponse("x/p.doc");
  // Broken after 40000 bytes with a validator: an earlier try's bytes, kept for a resume.
  const testsupport::Answer broken = {
      Action::Send("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\nETag: \"v1\"\r\n\r\n" + body.substr(0, 40000)),
      Action::Close()};
  struct Case {
    const char* label;
    std::vector<testsupport::Answer> answers;
    int deleteAtTransfer;  // deleted as the n-th response of the download begins; 0: in the pause before a retry
  };
  const std::vector<Case> cases = {
      {"while the file streams in", {{Action::Send(name)}, {Action::Send(OkResponse(body))}}, 2},
      // A body read to the close begins its transfer with no byte count: an empty one still begins.
      {"while the server says it has no file",
       {{Action::Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"), Action::Close()}}, 1},
      {"in the pause after a break that kept bytes", {{Action::Send(name)}, broken}, 0},
      {"while the next try asks for the file's name", {{Action::Send(name)}, broken, {Action::Send(name)}}, 3},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(QDir(Folder()).removeRecursively() && QDir().mkpath(Folder()));
    const qint64 id = Insert(QStringLiteral("1001"));
    testsupport::LoopbackServer server;
    for (const testsupport::Answer& answer : c.answers) server.Enqueue(answer);
    NewWindow();
    form->SetRetryPause([&](int) {
      if (c.deleteAtTransfer == 0) list->DeleteById(id);
      return true;
    });
    net::HttpClient& client = form->Client();
    int transfers = 0;
    client.OnWorkBegin = [&, bar = client.OnWorkBegin](net::HttpClient& self, net::WorkMode mode, std::int64_t max) {
      bar(self, mode, max);
      if (++transfers != c.deleteAtTransfer) return;
      list->DeleteById(id);
      // The file streams into the program's own folder, where the next start-up finds it should the process end now.
      for (const QString& file : FilesUnder(Folder()).keys()) {
        EXPECT_EQ(QFileInfo(file).path(), QStringLiteral(".vextal")) << file.toStdString();
        const std::string own = QFileInfo(file).fileName().toStdString();
        EXPECT_TRUE(download::IsPartialFileName(own) || download::IsRecordName(own)) << own;
      }
    };
    form->SetContentServer(server.Url(""));
    form->show();
    fakes.clock.AdvanceMs(1500);
    form->OnCountdownTick();

    list->Refresh();
    EXPECT_EQ(list->RecordCount(), 0) << c.label;
    // Nothing of the paper stays: no partial file, no record.
    EXPECT_TRUE(FilesUnder(Folder()).isEmpty()) << c.label;
    EXPECT_FALSE(form->isVisible()) << c.label;
    EXPECT_FALSE(form->CountdownTimer->isActive()) << c.label;
    EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << c.label;
  }
}

TEST_F(PaperDownloadTest, EmptyListRequestsNothingAndInsertsNoRow) {
  list->Open();
  testsupport::LoopbackServer server;

  RunDownload(server);

  EXPECT_TRUE(server.Requests().empty());
  list->Refresh();
  EXPECT_EQ(list->RecordCount(), 0);
  EXPECT_FALSE(form->CountdownTimer->isActive());
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty());
}

TEST_F(PaperDownloadTest, RedownloadReplacesTheFileAndRefreshesTheTime) {
  const qint64 id = Insert(QStringLiteral("1001"), kOpen, QStringLiteral("2008-1-1 9:00:00"), QStringLiteral("p.doc"));
  WriteFile(InFolder(QStringLiteral("p.doc")), "old copy");
  // At midnight the time of day is left out of the stamp.
  fakes.clock.now = QDateTime(QDate(2009, 3, 2), QTime(0, 0, 0)).addMSecs(-1500);
  testsupport::LoopbackServer server;
  server.Enqueue({Action::Send(OkResponse("x/p.doc"))});
  server.Enqueue({Action::Send(OkResponse("new copy"))});

  RunDownload(server);

  EXPECT_EQ(FilesUnder(Folder()), (QMap<QString, QByteArray>{{QStringLiteral("p.doc"), "new copy"}}));
  EXPECT_EQ(Field(id, "F_ZT"), kOpen);
  EXPECT_EQ(Field(id, "F_GXSJ"), QDate(2009, 3, 2).toString(ui::ShortDateFormat()));
}

TEST(DownloadTimeText, LeavesTheTimeOutOnlyAtMidnight) {
  const QDate day(2009, 3, 2);
  const QString date = day.toString(ui::ShortDateFormat());
  struct Case {
    QTime time;
    QString expected;
  };
  const std::vector<Case> cases = {
      {QTime(0, 0, 0), date},
      {QTime(0, 0, 0, 500), date},  // milliseconds do not count
      {QTime(0, 0, 1), date + QLatin1Char(' ') + QTime(0, 0, 1).toString(ui::LongTimeFormat())},
      {QTime(14, 5, 9), date + QLatin1Char(' ') + QTime(14, 5, 9).toString(ui::LongTimeFormat())},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exchange::PaperDownloadWindow::DownloadTimeText(QDateTime(day, c.time)), c.expected) << c.time.toString().toStdString();
  }
}

// Every failure of the download is silent and harmless: no message, the window stays with its countdown stopped,
// the row keeps its values, and the download folder (an earlier copy included) is exactly as it was.
TEST_F(PaperDownloadTest, FailuresWriteNothingAndChangeNothing) {
  struct Case {
    const char* label;
    std::string answer;
    std::vector<testsupport::Answer> fileAnswers;  // after the file-name answer; none when nothing may be fetched
    bool withoutFolder;
  };
  const std::vector<Case> cases = {
      {"body cut short", "x/p.doc",
       {{Action::Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(40000, 'n')),
         Action::Close()}},
       false},
      {"error status", "x/p.doc", {{Action::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno")}}, false},
      {"missing download folder", "x/p.doc", {},
       true},
      {"missing sub-folder", "x/none/p.doc", {}, false},
      {"an existing folder's name", "x/sub", {{Action::Send(OkResponse("new"))}}, false},
      {"parent segment", "x/../evil.doc", {}, false},
      {"parent segment inside", "x/sub/../../evil.doc", {}, false},
      {"absolute", "x//tmp/evil.doc", {}, false},
      {"backslash absolute", "x/\\evil.doc", {}, false},
      {"drive", "x/C:evil.doc", {}, false},
      {"control character", "x/e\x01vil.doc", {}, false},
      {"NUL", std::string("x/evil.doc\0.txt", 15), {}, false},
      {"empty segment", "x/sub//evil.doc", {}, false},
      {"nothing after the folder", "x/", {}, false},
      {"program", "x/\xCA\xD4\xBE\xED.exe", {}, false},
      {"program behind a paper's extension", "x/a.pdf.exe", {}, false},
      {"script with trailing dot and blank", "x/a.bat. ", {}, false},
      {"desktop entry", "x/paper.desktop", {}, false},
      {"shortcut in a sub-folder", "x/sub/p.lnk", {}, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(QDir().mkpath(InFolder(QStringLiteral("sub"))));
    WriteFile(InFolder(QStringLiteral("p.doc")), "old copy");
    if (c.withoutFolder) {
      ASSERT_TRUE(QDir(Folder()).removeRecursively());
    }
    const QMap<QString, QByteArray> before = FilesUnder(QDir::currentPath());
    const qint64 id = Insert(QStringLiteral("1001"));
    testsupport::LoopbackServer server;
    server.Enqueue({Action::Send(OkResponse(c.answer))});
    for (const testsupport::Answer& answer : c.fileAnswers) server.Enqueue(answer);

    RunDownload(server);

    EXPECT_EQ(server.Requests().size(), 1 + c.fileAnswers.size()) << c.label;
    EXPECT_EQ(FilesUnder(QDir::currentPath()), before) << c.label;
    EXPECT_EQ(Field(id, "F_ZT"), kDownload) << c.label;
    EXPECT_EQ(Field(id, "F_GXSJ"), QString()) << c.label;
    EXPECT_EQ(Field(id, "F_BDWJ"), QString()) << c.label;
    EXPECT_TRUE(form->isVisible()) << c.label;
    EXPECT_FALSE(form->CountdownTimer->isActive()) << c.label;
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty()) << c.label;
    EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << c.label;
  }
}

TEST_F(PaperDownloadTest, ServerFailuresAreSilentToo) {
  const qint64 id = Insert(QStringLiteral("1001"));
  testsupport::LoopbackServer server;
  server.Enqueue({Action::Send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n")});
  RunDownload(server);
  EXPECT_EQ(Field(id, "F_ZT"), kDownload);
  EXPECT_TRUE(form->isVisible());

  testsupport::LoopbackServer gone;
  gone.Stop();
  RunDownload(gone);
  EXPECT_EQ(Field(id, "F_ZT"), kDownload);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->CountdownTimer->isActive());
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty());
}

TEST_F(PaperDownloadTest, ResultGoesToThePaperWhoseNumberWasSentWhileTheSelectionStays) {
  const qint64 other = Insert(QStringLiteral("1002"));
  const qint64 sent = Insert(QStringLiteral("1003"));
  ASSERT_EQ(list->CurrentId(), sent);
  testsupport::LoopbackServer server;
  server.Enqueue({Action::Send(OkResponse("x/p.doc"))});
  server.Enqueue(testsupport::SplitAnswer(OkResponse(std::string(200000, 'p')), 50000, 5));
  NewWindow();
  form->SetRetryPause([](int) { return false; });
  // The user picks another paper while the file streams in.
  QObject::connect(form->ProgressBar, &QProgressBar::valueChanged, [&](int value) {
    if (value > 0 && form->ProgressBar->maximum() == 200000) list->SetCurrentRow(list->RowOfId(other));
  });
  QSignalSpy changed(list.get(), &store::ResultSet::RowChanged);
  form->SetContentServer(server.Url(""));
  form->show();
  fakes.clock.AdvanceMs(1500);
  form->OnCountdownTick();

  EXPECT_EQ(Field(sent, "F_ZT"), kOpen);
  EXPECT_EQ(Field(sent, "F_BDWJ"), QStringLiteral("p.doc"));
  EXPECT_EQ(Field(other, "F_ZT"), kDownload);
  EXPECT_EQ(list->CurrentId(), other);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.first().first().toInt(), list->RowOfId(sent));
}

TEST_F(PaperDownloadTest, FirstDownloadMakesEveryLaterWaitServeTheUi) {
  Insert(QStringLiteral("1001"));
  testsupport::LoopbackServer server;
  server.Enqueue({Action::Send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n")});
  NewWindow();
  form->SetRetryPause([](int) { return false; });
  net::PumpPolicy* policy = net::PumpPolicy::InForce();
  ASSERT_EQ(policy, &form->Pump);
  ASSERT_TRUE(policy->OnlyWhenIdle());
  form->SetContentServer(server.Url(""));
  form->show();
  fakes.clock.AdvanceMs(1500);
  form->OnCountdownTick();

  // Even after a failed download, and for every client of the process: the policy in force is the one switched.
  EXPECT_EQ(net::PumpPolicy::InForce(), policy);
  EXPECT_FALSE(policy->OnlyWhenIdle());
}

}  // namespace

namespace {

// A paper of 1000 bytes whose first answer breaks after 900, and what the next try asks and gets.
const std::string kPaper = [] {
  std::string bytes(1000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}();
const std::string kOtherPaper(1000, 'z');
const std::string kStrong = "ETag: \"v1\"\r\n";
// A date is a validator only when the answer's own Date is at least a second later.
const std::string kDate = "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\nDate: Tue, 01 Dec 2026 10:00:01 GMT\r\n";
const std::string kWeakDate = "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\nDate: Tue, 01 Dec 2026 10:00:00 GMT\r\n";

std::string Head(const std::string& status, std::size_t length, const std::string& headers) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) + "\r\n" + headers + "\r\n";
}
std::string Partial(const std::string& range, std::size_t from, const std::string& headers = kStrong) {
  return Head("206 Partial Content", kPaper.size() - from, headers + "Content-Range: " + range + "\r\n") +
         kPaper.substr(from);
}
testsupport::Answer Broken(const std::string& headers, std::size_t sent = 900) {
  return {Action::Send(Head("200 OK", kPaper.size(), headers) + kPaper.substr(0, sent)), Action::Close()};
}
// The link goes quiet without closing: no byte more, no close, no reset.
testsupport::Answer Silent(const std::string& headers, std::size_t sent) {
  return {Action::Send(Head("200 OK", kPaper.size(), headers) + kPaper.substr(0, sent)), Action::Hold()};
}

// "Range" and "If-Range" of a file request as sent, "-" for none.
std::string RangeHeaders(const std::string& request) {
  std::string found;
  for (const char* name : {"\r\nRange: ", "\r\nIf-Range: "}) {
    const std::size_t at = request.find(name);
    const std::size_t start = at + std::strlen(name);
    found += (found.empty() ? "" : " | ") +
             (at == std::string::npos ? std::string("-") : request.substr(start, request.find("\r\n", start) - start));
  }
  return found;
}

using PaperDownloadResumeTest = PaperDownloadTest;

// A transfer that breaks keeps what arrived; the next try asks for the rest and takes whatever the server's answer
// allows: the rest, the whole paper again, or, when the answer cannot continue the kept bytes, once more from the start.
TEST_F(PaperDownloadResumeTest, TheNextTryAsksForTheRestAndKeepsOnlyWhatTheAnswerAllows) {
  struct Case {
    const char* label;
    std::vector<testsupport::Answer> fileAnswers;
    std::vector<std::string> rangesSent;  // per file request: "Range | If-Range"
    std::string result;
    std::vector<int> pauses;
  };
  const std::string whole = OkResponse(kPaper, kStrong);
  const std::vector<Case> cases = {
      {"match", {Broken(kStrong), {Action::Send(Partial("bytes 900-999/1000", 900))}},
       {"- | -", "bytes=900- | \"v1\""}, kPaper, {1000}},
      {"silence after 40 %", {Silent(kStrong, 400), {Action::Send(Partial("bytes 400-999/1000", 400))}},
       {"- | -", "bytes=400- | \"v1\""}, kPaper, {1000}},
      {"date as validator", {Broken(kDate), {Action::Send(Partial("bytes 900-999/1000", 900, kDate))}},
       {"- | -", "bytes=900- | Tue, 01 Dec 2026 10:00:00 GMT"}, kPaper, {1000}},
      {"validator changed: 200", {Broken(kStrong), {Action::Send(OkResponse(kOtherPaper, "ETag: \"v2\"\r\n"))}},
       {"- | -", "bytes=900- | \"v1\""}, kOtherPaper, {1000}},
      {"no validator: starts over", {Broken(""), {Action::Send(OkResponse(kPaper))}}, {"- | -", "- | -"}, kPaper, {1000}},
      {"date within its second: starts over", {Broken(kWeakDate), {Action::Send(OkResponse(kPaper, kWeakDate))}},
       {"- | -", "- | -"}, kPaper, {1000}},
      {"If-Range ignored, another version", {Broken(kStrong), {Action::Send(Partial("bytes 900-999/1000", 900,
                                                                                    "ETag: \"v2\"\r\n"))},
                                             {Action::Send(whole)}},
       {"- | -", "bytes=900- | \"v1\"", "- | -"}, kPaper, {1000}},
      {"weak ETag: starts over", {Broken("ETag: W/\"v1\"\r\n"), {Action::Send(whole)}}, {"- | -", "- | -"}, kPaper,
       {1000}},
      {"416", {Broken(kStrong), {Action::Send(Head("416 Range Not Satisfiable", 0, "Content-Range: bytes */1000\r\n"))},
        {Action::Send(whole)}},
       {"- | -", "bytes=900- | \"v1\"", "- | -"}, kPaper, {1000}},
      {"wrong start", {Broken(kStrong), {Action::Send(Partial("bytes 0-999/1000", 0))}, {Action::Send(whole)}},
       {"- | -", "bytes=900- | \"v1\"", "- | -"}, kPaper, {1000}},
      {"wrong total",
       {Broken(kStrong), {Action::Send(Head("206 Partial Content", 300, kStrong + "Content-Range: bytes 900-1199/1200\r\n") +
                                       std::string(300, 'x'))},
        {Action::Send(whole)}},
       {"- | -", "bytes=900- | \"v1\"", "- | -"}, kPaper, {1000}},
      {"206 not asked for", {{Action::Send(Partial("bytes 0-999/1000", 0))}, {Action::Send(whole)}}, {"- | -", "- | -"},
       kPaper, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    QDir(Folder()).removeRecursively();
    QDir().mkpath(Folder());
    pauses.clear();
    retries = true;
    testsupport::LoopbackServer server;
    for (const testsupport::Answer& answer : c.fileAnswers) {
      server.Enqueue({Action::Send(OkResponse("2024/paper.pdf"))});
      server.Enqueue(answer);
    }
    const qint64 id = Insert("7");
    RunDownload(server);

    std::vector<std::string> sent;
    for (const std::string& request : server.Requests()) {
      if (request.rfind("GET /Upload/", 0) == 0) sent.push_back(RangeHeaders(request));
    }
    EXPECT_EQ(sent, c.rangesSent);
    EXPECT_EQ(FilesUnder(Folder()).keys(), QStringList{"paper.pdf"});
    EXPECT_EQ(FilesUnder(Folder()).value("paper.pdf").toStdString(), c.result);
    EXPECT_EQ(Field(id, "F_ZT"), kOpen);
    EXPECT_EQ(pauses, c.pauses);
    EXPECT_FALSE(form->isVisible());
  }
}

// "取消" or Escape in the middle of a transfer or of the pause before the next try: the strip goes at once, the row
// stays "下载", and the bytes that came stay for the next download, which asks only for the rest.
TEST_F(PaperDownloadResumeTest, ACancelKeepsWhatArrivedForTheNextDownload) {
  struct Case {
    const char* label;
    testsupport::Answer first;  // 400 bytes, then silence (a cancel in the transfer) or a break (a cancel in the pause)
    bool inThePause;
    std::function<void()> cancel;
  };
  const Case cases[] = {
      {"取消 in the transfer", Silent(kStrong, 400), false, [this] { form->CancelButton->click(); }},
      {"Escape in the transfer", Silent(kStrong, 400), false, [this] { QTest::keyClick(form.get(), Qt::Key_Escape); }},
      {"取消 in the pause", Broken(kStrong, 400), true, [this] { form->CancelButton->click(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    QDir(Folder()).removeRecursively();
    QDir().mkpath(Folder());
    testsupport::LoopbackServer server;
    server.Enqueue({Action::Send(OkResponse("2024/paper.pdf"))});
    server.Enqueue(c.first);
    const qint64 id = Insert("7");
    NewWindow();
    form->SetContentServer(server.Url(""));
    // Only the cancel may end the silence here; a limit that did would show as a pause before another try.
    form->Client().ReadTimeout = 20000;
    pauses.clear();
    form->SetRetryPause([&](int ms) {
      pauses.push_back(ms);
      if (c.inThePause) QTimer::singleShot(0, form.get(), c.cancel);
      return form->PauseBeforeRetry(ms);
    });
    form->Client().OnWork = [&, bar = form->Client().OnWork](net::HttpClient& self, net::WorkMode mode, std::int64_t n) {
      bar(self, mode, n);
      // The user's click arrives through the event queue, which the transfer's own wait serves; the bar is the paper's.
      const bool paper = form->ProgressBar->maximum() == static_cast<int>(kPaper.size());
      if (!c.inThePause && paper && n > 0) QTimer::singleShot(0, form.get(), c.cancel);
    };
    form->show();
    fakes.clock.AdvanceMs(1500);
    form->OnCountdownTick();

    EXPECT_EQ(pauses, c.inThePause ? std::vector<int>{1000} : std::vector<int>{});
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->CountdownTimer->isActive());
    EXPECT_EQ(Field(id, "F_ZT"), kDownload);
    EXPECT_EQ(server.Requests().size(), 2u);

    // Every byte that came is kept, however much of it had come when the click was served.
    std::size_t kept = 0;
    for (const auto& [name, bytes] : FilesUnder(Folder()).toStdMap()) {
      if (name.endsWith(QStringLiteral(".part"))) kept = static_cast<std::size_t>(bytes.size());
    }
    EXPECT_GT(kept, 0u);
    EXPECT_LE(kept, 400u);
    const std::string from = std::to_string(kept);
    server.Enqueue({Action::Send(OkResponse("2024/paper.pdf"))});
    server.Enqueue({Action::Send(Partial("bytes " + from + "-999/1000", kept))});
    RunDownload(server);
    EXPECT_EQ(RangeHeaders(server.Requests().back()), "bytes=" + from + "- | \"v1\"");
    EXPECT_EQ(FilesUnder(Folder()).value("paper.pdf").toStdString(), kPaper);
    EXPECT_EQ(Field(id, "F_ZT"), kOpen);
  }
}

// A page the network puts in place of the paper (a hotel's login page, or a redirect to it) fails the try and says so
// beside the bar, with no try again at once: the bytes an earlier try kept and their record stay exactly as they were,
// the row stays "下载" and the strip stays. A paper that is a web page, or an answer that is no page, is taken.
TEST_F(PaperDownloadResumeTest, TheNetworksPageInPlaceOfThePaperFailsTheTryAndSaysSo) {
  const QString intercepted = QStringLiteral("网络需要登录或拦截了下载");
  const std::string login = "<html><form action=\"/login\">";
  const auto html = [](const std::string& type, const std::string& body) {
    return testsupport::Answer{Action::Send(Head("200 OK", body.size(), "Content-Type: " + type + "\r\n") + body)};
  };
  const auto redirect = [](const std::string& location) {
    return testsupport::Answer{Action::Send(Head("302 Found", 0, "Location: " + location + "\r\n"))};
  };
  const auto named = [](const std::string& name) { return testsupport::Answer{Action::Send(OkResponse(name))}; };
  struct Case {
    const char* label;
    bool kept;  // an earlier try left 900 bytes of paper.pdf with their record
    std::vector<testsupport::Answer> answers;
    QString taken;  // the paper's name when it is taken
    QString text;   // how the text beside the bar starts when it is not
  };
  const std::vector<Case> cases = {
      {"login page for a pdf", false, {named("2024/paper.pdf"), html("text/html", login)}, {}, intercepted},
      {"login page for the rest of a pdf", true, {named("2024/paper.pdf"), html("text/html", login)}, {}, intercepted},
      {"media type in capitals", false, {named("2024/paper.pdf"), html("TEXT/HTML; charset=gbk", login)}, {},
       intercepted},
      {"paper redirected to the portal", true, {named("2024/paper.pdf"), redirect("http://portal.example/login")}, {},
       intercepted},
      {"file-name page redirected to the portal", false, {redirect("http://portal.example/login")}, {}, intercepted},
      {"redirect on the same host is the server's failure", false,
       {named("2024/paper.pdf"), redirect("/Upload/other.pdf")}, {}, QStringLiteral("下载没有完成：")},
      {"a paper that is a web page", false, {named("2024/paper.html"), html("text/html", login)}, "paper.html", {}},
      {"html that does not start with <", false, {named("2024/paper.pdf"), html("text/html", kPaper)}, "paper.pdf", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    QDir(Folder()).removeRecursively();
    QDir().mkpath(Folder());
    const qint64 id = Insert("7");
    testsupport::LoopbackServer server;
    if (c.kept) {
      server.Enqueue(named("2024/paper.pdf"));
      server.Enqueue(Broken(kStrong));
      retries = false;
      RunDownload(server);
      ASSERT_EQ(FilesUnder(Folder()).size(), 2);
    }
    const QMap<QString, QByteArray> before = FilesUnder(Folder());
    for (const testsupport::Answer& answer : c.answers) server.Enqueue(answer);
    pauses.clear();
    retries = true;
    RunDownload(server);

    EXPECT_EQ(pauses, std::vector<int>{});
    if (c.kept && c.answers.size() > 1) {
      EXPECT_EQ(RangeHeaders(server.Requests().back()), "bytes=900- | \"v1\"");
    }
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
    EXPECT_TRUE(fakes.dialogs.errors.isEmpty());
    if (!c.taken.isEmpty()) {
      EXPECT_EQ(FilesUnder(Folder()).keys(), QStringList{c.taken});
      EXPECT_EQ(Field(id, "F_ZT"), kOpen);
      EXPECT_FALSE(form->isVisible());
      continue;
    }
    EXPECT_EQ(FilesUnder(Folder()), before);
    EXPECT_EQ(Field(id, "F_ZT"), kDownload);
    EXPECT_EQ(Field(id, "F_BDWJ"), QString());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->CountdownTimer->isActive());
    EXPECT_TRUE(form->TransferText().startsWith(c.text)) << form->TransferText().toStdString();
  }
}

// Which failures the window tries again by itself, how often, and after which pauses; after the last try the strip
// stays as after any failure. A restart of the program between a break and the next try resumes as well.
TEST_F(PaperDownloadResumeTest, TriesAgainWhatAnotherTryMayMendWithGrowingPauses) {
  struct Case {
    const char* label;
    std::string failure;  // the file request's answer on every try
    std::vector<int> pauses;
    int fileRequests;
  };
  const std::string busy = Head("503 Service Unavailable", 0, "");
  const std::vector<Case> cases = {
      {"503 four times", busy, {1000, 2000, 4000}, 4},
      {"503 asking for 7 s", Head("503 Service Unavailable", 0, "Retry-After: 7\r\n"), {7000, 7000, 7000}, 4},
      {"503 asking for two minutes", Head("503 Service Unavailable", 0, "Retry-After: 120\r\n"), {1000, 2000, 4000}, 4},
      {"500", Head("500 Internal Server Error", 0, ""), {1000, 2000, 4000}, 4},
      {"408", Head("408 Request Timeout", 0, ""), {1000, 2000, 4000}, 4},
      {"429", Head("429 Too Many Requests", 0, ""), {1000, 2000, 4000}, 4},
      {"404 is final", Head("404 Not Found", 0, ""), {}, 1},
      {"403 is final", Head("403 Forbidden", 0, ""), {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    pauses.clear();
    retries = true;
    testsupport::LoopbackServer server;
    server.SetHandler([&](const std::string& request) -> testsupport::Answer {
      if (request.rfind("GET /Upload/", 0) == 0) return {Action::Send(c.failure)};
      return {Action::Send(OkResponse("2024/paper.pdf"))};
    });
    const qint64 id = Insert("7");
    RunDownload(server);
    int fileRequests = 0;
    for (const std::string& request : server.Requests()) fileRequests += request.rfind("GET /Upload/", 0) == 0;
    EXPECT_EQ(fileRequests, c.fileRequests);
    EXPECT_EQ(pauses, c.pauses);
    EXPECT_EQ(Field(id, "F_ZT"), kDownload);
    EXPECT_TRUE(form->isVisible());
  }

  // The strip says which try comes next while it waits.
  testsupport::LoopbackServer server;
  server.SetHandler([&](const std::string& request) -> testsupport::Answer {
    if (request.rfind("GET /Upload/", 0) == 0) return {Action::Send(busy)};
    return {Action::Send(OkResponse("2024/paper.pdf"))};
  });
  Insert("8");
  QStringList shown;
  NewWindow();
  form->SetContentServer(server.Url(""));
  form->SetRetryPause([&](int) {
    shown << form->TransferText();
    return shown.size() < 2;
  });
  form->show();
  fakes.clock.AdvanceMs(1500);
  form->OnCountdownTick();
  EXPECT_EQ(shown, QStringList({"第 2 次尝试，1 秒后开始", "第 3 次尝试，2 秒后开始"}));

  // Deleting the paper ends the real wait at once, however long the server asked for; so does "取消" or Escape, and
  // a paper deleted before its pause is not waited for at all.
  server.SetHandler([&](const std::string& request) -> testsupport::Answer {
    if (request.rfind("GET /Upload/", 0) == 0) return {Action::Send(Head("503 Service Unavailable", 0, "Retry-After: 60\r\n"))};
    return {Action::Send(OkResponse("2024/paper.pdf"))};
  });
  struct Ending {
    const char* label;
    std::function<void(qint64 id)> inThePause;  // run by the pause's own event loop
    std::function<void(qint64 id)> beforeThePause;
  };
  const Ending endings[] = {
      {"paper deleted", [&](qint64 id) { list->DeleteById(id); }, {}},
      {"取消", [&](qint64) { form->CancelButton->click(); }, {}},
      {"Escape", [&](qint64) { QTest::keyClick(form.get(), Qt::Key_Escape); }, {}},
      {"paper deleted before", {}, [&](qint64 id) { list->DeleteById(id); }},
  };
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.label);
    const qint64 id = Insert("10");
    int pausesBegun = 0;
    bool cutShort = false;
    NewWindow();
    form->SetContentServer(server.Url(""));
    if (e.beforeThePause) {
      form->Client().OnWorkBegin = [&](net::HttpClient&, net::WorkMode, std::int64_t) { e.beforeThePause(id); };
    }
    form->SetRetryPause([&](int ms) {
      ++pausesBegun;
      if (e.inThePause) QTimer::singleShot(0, form.get(), [&] { e.inThePause(id); });
      cutShort = !form->PauseBeforeRetry(ms);
      return !cutShort;
    });
    form->show();
    fakes.clock.AdvanceMs(1500);
    form->OnCountdownTick();
    EXPECT_EQ(pausesBegun, e.inThePause ? 1 : 0);
    EXPECT_EQ(cutShort, static_cast<bool>(e.inThePause));
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->Downloading());
    EXPECT_FALSE(form->CancelButton->isVisible());
  }

  // A break, the program ends before the next try, and the next start's try resumes.
  QDir(Folder()).removeRecursively();
  QDir().mkpath(Folder());
  testsupport::LoopbackServer resuming;
  resuming.Enqueue({Action::Send(OkResponse("2024/paper.pdf"))});
  resuming.Enqueue(Broken(kStrong));
  const qint64 id = Insert("9");
  retries = false;
  RunDownload(resuming);
  EXPECT_EQ(FilesUnder(Folder()).size(), 2) << "the partial paper and its record stay for the next try";
  form.reset();
  exchange::PrepareDownloadFolder(Folder());
  EXPECT_EQ(FilesUnder(Folder()).size(), 2) << "a partial paper that can be resumed survives the start-up";
  resuming.Enqueue({Action::Send(OkResponse("2024/paper.pdf"))});
  resuming.Enqueue({Action::Send(Partial("bytes 900-999/1000", 900))});
  RunDownload(resuming);
  EXPECT_EQ(RangeHeaders(resuming.Requests().back()), "bytes=900- | \"v1\"");
  EXPECT_EQ(FilesUnder(Folder()).keys(), QStringList{"paper.pdf"});
  EXPECT_EQ(FilesUnder(Folder()).value("paper.pdf").toStdString(), kPaper);
  EXPECT_EQ(Field(id, "F_ZT"), kOpen);
}

}  // namespace
