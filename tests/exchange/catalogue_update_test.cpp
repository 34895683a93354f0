#include "exchange/catalogue_update_window.h"

#include "store/catalogue.h"
#include "store/result_set.h"
#include "tests/support/loopback_server.h"
#include "tests/support/qt_fakes.h"
#include "net/pump_policy.h"
#include "ui/error_report.h"
#include "ui/pump.h"

#include <QProgressBar>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Stored rows read as text in a failure message.
static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

using testsupport::Action;
using testsupport::OkResponse;

const QString kSummary = QStringLiteral("系统已升级完成，共下载%1套试卷");
const QString kAlreadyCurrent = QStringLiteral("系统已经是最新版本了！");
constexpr int kPollMs = 5;

// F_bh, F_SJMC, F_KM, F_ZFL1, F_LB, F_MS, F_ZT of one stored row.
using Row = std::vector<QString>;

Row NewRow(const QString& bh, const QString& title, const QString& exam, const QString& subject,
           const QString& category, const QString& description) {
  return {bh, title, exam, subject, category, description, QStringLiteral("下载")};
}

Row EmptyRow() { return NewRow({}, {}, {}, {}, {}, {}); }

std::string Record(const std::string& id, const std::string& title) {
  return "<tr><F_id>" + id + "</F_id><F_SJMC>" + title + "</F_SJMC><F_KM>k</F_KM><F_ZFL1>s</F_ZFL1><F_LB>c</F_LB>" +
         "<F_MS>m</F_MS>\r\n";
}

Row RecordRow(const QString& id, const QString& title) {
  return NewRow(id, title, QStringLiteral("k"), QStringLiteral("s"), QStringLiteral("c"), QStringLiteral("m"));
}

class CatalogueUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    database = store::OpenCatalogue(m_dir.filePath(QStringLiteral("data.mdb")), kConnection);
    mainList = std::make_unique<store::ResultSet>(database);
    mainList->SetStatement(store::DefaultListStatement());
    mainList->Open();
    mainWindow = std::make_unique<QWidget>();
    catalogueUpdate = std::make_unique<exchange::CatalogueUpdateWindow>(database, mainList.get(), mainWindow.get());
    catalogueUpdate->SetContentServer(server.Url(""));
  }

  void TearDown() override {
    catalogueUpdate.reset();
    mainList.reset();
    database.close();
    database = QSqlDatabase();
    QSqlDatabase::removeDatabase(kConnection);
  }

  // Shows the window and lets the countdown reach its 28 reading, as the timer would 1.5 s after the show.
  void ShowAndFire() {
    catalogueUpdate->show();
    fakes.clock.AdvanceMs(1500);
    ui::Guarded([this] { catalogueUpdate->OnCountdownTick(); });
  }

  void Exec(const QString& statement) {
    QSqlQuery query(database);
    ASSERT_TRUE(query.exec(statement)) << statement.toStdString();
  }

  std::vector<Row> StoredRows() {
    std::vector<Row> rows;
    QSqlQuery query(database);
    query.exec(QStringLiteral("select F_bh, F_SJMC, F_KM, F_ZFL1, F_LB, F_MS, F_ZT from VXT_TM order by F_id"));
    while (query.next()) {
      Row row;
      for (int i = 0; i < 7; ++i) row.push_back(query.value(i).isNull() ? QString() : query.value(i).toString());
      rows.push_back(row);
    }
    return rows;
  }

  static constexpr const char* kConnection = "catalogue_update_test";
  testsupport::InstalledFakes fakes;
  testsupport::LoopbackServer server;
  QTemporaryDir m_dir;
  QSqlDatabase database;
  std::unique_ptr<store::ResultSet> mainList;
  std::unique_ptr<QWidget> mainWindow;
  std::unique_ptr<exchange::CatalogueUpdateWindow> catalogueUpdate;
};

TEST_F(CatalogueUpdateTest, ImportAppendsOneDownloadRowPerRecordAndReportsTheCount) {
  struct Case {
    const char* label;
    std::string answer;
    std::vector<Row> rows;
  };
  const std::vector<Case> cases = {
      {"one record, fields in any order",
       "<tr><F_MS>m</F_MS><F_LB>c</F_LB><F_ZFL1>s</F_ZFL1><F_KM>k</F_KM><F_SJMC>t</F_SJMC><F_id>7</F_id>",
       {RecordRow("7", "t")}},
      {"markup before the first record is a record of its own",
       "<table>" + Record("8", "t"),
       {EmptyRow(), RecordRow("8", "t")}},
      {"blanks and line breaks only", " \r\n\t \r\n", {}},
      {"delimiter, line break, delimiter",
       Record("1", "a") + "<tr>\r\n" + Record("2", "b"),
       {RecordRow("1", "a"), EmptyRow(), RecordRow("2", "b")}},
      {"GBK values stored as text, raw (no trimming, no entities)",
       "<tr><F_id>3</F_id><F_SJMC> \xCA\xD4\xBE\xED &amp;</F_SJMC>"
       "<F_KM>\xB9\xAB\xCE\xF1\xD4\xB1\xBF\xBC\xCA\xD4</F_KM>",
       {NewRow("3", QStringLiteral(" 试卷 &amp;"), QStringLiteral("公务员考试"), {}, {}, {})}},
      {"a broken GBK character becomes U+FFFD and the record is still appended",
       "<tr><F_id>4</F_id><F_SJMC>\x81/a</F_SJMC>",
       {NewRow("4", QString(QChar::ReplacementCharacter) + QStringLiteral("/a"), {}, {}, {}, {})}},
      {"a NUL in the answer does not end it", std::string("<tr><F_id>5</F_id>\0", 19) + Record("6", "b"),
       {NewRow("5", {}, {}, {}, {}, {}), RecordRow("6", "b")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Exec(QStringLiteral("delete from VXT_TM"));
    fakes.dialogs.messages.clear();
    server.Enqueue({Action::Send(OkResponse(c.answer))});

    ShowAndFire();

    EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << fakes.dialogs.errors.join('\n').toStdString();
    EXPECT_EQ(catalogueUpdate->AnswerBuffer(), c.answer);
    EXPECT_EQ(StoredRows(), c.rows);
    EXPECT_EQ(fakes.dialogs.messages, QStringList{kSummary.arg(c.rows.size())});
    EXPECT_EQ(mainList->RecordCount(), static_cast<int>(c.rows.size())) << "main list refreshed";
    EXPECT_FALSE(catalogueUpdate->isVisible());
    EXPECT_FALSE(catalogueUpdate->CountdownTimer->isActive());
    EXPECT_EQ(catalogueUpdate->ProgressBar->maximum(), static_cast<int>(c.answer.size()));
    EXPECT_EQ(catalogueUpdate->ProgressBar->value(), static_cast<int>(c.answer.size()));
  }
}

// The numbers arrive through an import of the window's own, so what is sent back is what the server once sent.
TEST_F(CatalogueUpdateTest, RequestAsksFromTheHighWaterMarkAsTheServerWroteIt) {
  const std::string thirtyDigits = "123456789012345678901234567890";
  struct Case {
    const char* label;
    std::vector<std::string> received;
    std::string id;
  };
  const std::vector<Case> cases = {
      {"empty catalogue", {}, "1"},
      {"numeric order, not text order", {"9", "10"}, "10"},
      {"leading zeros kept", {"9", "0012"}, "0012"},
      {"non-number", {"5", "abc"}, "5"},
      {"empty", {"3", ""}, "3"},
      {"negative only", {"-5"}, "1"},
      {"fraction", {"2", "3.5"}, "2"},
      {"blanks before", {"6", "  7"}, "6"},
      {"beyond 64 bits", {"99", thirtyDigits}, thirtyDigits},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Exec(QStringLiteral("delete from VXT_TM"));
    std::string answer;
    std::vector<Row> rows;
    for (const std::string& number : c.received) {
      answer += Record(number, "t");
      rows.push_back(RecordRow(QString::fromStdString(number), QStringLiteral("t")));
    }
    catalogueUpdate->SetAnswerBuffer(answer);
    ui::Guarded([this] { catalogueUpdate->ImportAnswer(); });
    ASSERT_EQ(StoredRows(), rows);
    const std::size_t before = server.Requests().size();
    server.Enqueue({Action::Send(OkResponse(""))});

    ShowAndFire();

    ASSERT_EQ(server.Requests().size(), before + 1);
    const std::string request = server.Requests().back();
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /admin/ZPR_UpCount.asp?id=" + c.id + " HTTP/1.1");
  }
}

TEST_F(CatalogueUpdateTest, EmptyAnswerSaysTheCatalogueIsCurrentAndHides) {
  server.Enqueue({Action::Send(OkResponse(""))});
  ShowAndFire();
  EXPECT_EQ(fakes.dialogs.messages, QStringList{kAlreadyCurrent});
  EXPECT_TRUE(StoredRows().empty());
  EXPECT_FALSE(catalogueUpdate->isVisible());
  EXPECT_FALSE(catalogueUpdate->CountdownTimer->isActive());
}

TEST_F(CatalogueUpdateTest, FailedRequestIsReportedAndTriedAgainAtTheRepeat) {
  struct Case {
    const char* label;
    testsupport::Answer failure;
  };
  const std::vector<Case> cases = {
      {"connection reset", {Action::Reset()}},
      {"error status", {Action::Send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n")}},
      {"answer beyond its cap", {Action::Send("HTTP/1.1 200 OK\r\nContent-Length: 33554433\r\n\r\n<tr>"), Action::Close()}},
      {"silent server", {Action::Hold()}},
      {"silent in the middle of the answer", {Action::Send("HTTP/1.1 200 OK\r\n\r\n<tr><F_id>9</F_id>"), Action::Hold()}},
  };
  // A silent server is given up this soon here; the program waits far longer.
  catalogueUpdate->Client().ReadTimeout = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Exec(QStringLiteral("delete from VXT_TM"));
    fakes.dialogs.errors.clear();
    fakes.dialogs.messages.clear();
    catalogueUpdate->hide();
    catalogueUpdate->SetAnswerBuffer("before");
    const std::size_t before = server.Requests().size();
    server.Enqueue(c.failure);

    ShowAndFire();

    EXPECT_EQ(fakes.dialogs.errors.size(), 1);
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
    EXPECT_EQ(catalogueUpdate->AnswerBuffer(), "before");
    EXPECT_TRUE(catalogueUpdate->isVisible());
    EXPECT_TRUE(catalogueUpdate->CountdownTimer->isActive());

    // Nothing between the readings; the repeat 58 s after the show asks again.
    fakes.clock.AdvanceMs(30000);
    ui::Guarded([this] { catalogueUpdate->OnCountdownTick(); });
    EXPECT_EQ(server.Requests().size(), before + 1);
    server.Enqueue({Action::Send(OkResponse(Record("9", "t")))});
    fakes.clock.AdvanceMs(27000);  // 58.5 s after the show
    ui::Guarded([this] { catalogueUpdate->OnCountdownTick(); });

    EXPECT_EQ(server.Requests().size(), before + 2);
    EXPECT_EQ(StoredRows(), std::vector<Row>{RecordRow("9", "t")});
    EXPECT_EQ(fakes.dialogs.messages, QStringList{kSummary.arg(1)});
    EXPECT_FALSE(catalogueUpdate->isVisible());
  }
}

// "取消" or Escape while the server holds its answer: the request ends at once, nothing is imported or reported, and the
// strip goes with its countdown stopped, so no repeat asks again behind the user's back.
TEST_F(CatalogueUpdateTest, ACancelInTheRequestImportsAndReportsNothing) {
  ui::InstallPumpDispatcher();
  struct Case {
    const char* label;
    std::function<void()> cancel;
  };
  const Case cases[] = {
      {"取消", [this] { catalogueUpdate->CancelButton->click(); }},
      {"Escape", [this] { QTest::keyClick(catalogueUpdate.get(), Qt::Key_Escape); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    catalogueUpdate->hide();
    catalogueUpdate->SetAnswerBuffer("before");
    const std::size_t before = server.Requests().size();
    server.Enqueue({Action::AwaitRelease(), Action::Send(OkResponse(Record("9", "t")))});
    // The user acts once the request has reached the server, from inside the request's own wait.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (server.Requests().size() == before + 1 && catalogueUpdate->CancelButton->isVisible()) {
        poll.stop();
        c.cancel();
      }
    });
    poll.start(kPollMs);

    ShowAndFire();
    server.Release();

    EXPECT_FALSE(poll.isActive()) << "the cancel came";
    EXPECT_TRUE(StoredRows().empty());
    EXPECT_EQ(catalogueUpdate->AnswerBuffer(), "before");
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
    EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << fakes.dialogs.errors.join('\n').toStdString();
    EXPECT_FALSE(catalogueUpdate->isVisible());
    EXPECT_FALSE(catalogueUpdate->CountdownTimer->isActive());
    EXPECT_FALSE(catalogueUpdate->CancelButton->isVisible());
  }
  net::SetPumpDispatcher({});
}

TEST_F(CatalogueUpdateTest, DatabaseErrorMidImportKeepsTheRowsBeforeIt) {
  // An abort leaves the batch's transaction open; a rollback makes the engine throw away the rows posted before.
  for (const char* raise : {"abort", "rollback"}) {
    SCOPED_TRACE(raise);
    Exec(QStringLiteral("delete from VXT_TM"));
    Exec(QStringLiteral("drop trigger if exists refuse"));
    Exec(QStringLiteral("create trigger refuse before insert on VXT_TM when new.F_SJMC = 'bad' "
                        "begin select raise(%1, 'refused by the catalogue'); end")
             .arg(QLatin1String(raise)));
    fakes.dialogs.errors.clear();
    fakes.dialogs.messages.clear();
    catalogueUpdate->hide();
    const int listed = mainList->RecordCount();
    server.Enqueue({Action::Send(OkResponse(Record("1", "a") + Record("2", "b") + Record("3", "bad") +
                                            Record("4", "d")))});

    ShowAndFire();

    ASSERT_EQ(fakes.dialogs.errors.size(), 1);
    EXPECT_TRUE(fakes.dialogs.errors[0].contains(QStringLiteral("refused by the catalogue")))
        << fakes.dialogs.errors[0].toStdString();
    EXPECT_EQ(StoredRows(), (std::vector<Row>{RecordRow("1", "a"), RecordRow("2", "b")}));
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty()) << "no summary";
    EXPECT_EQ(mainList->RecordCount(), listed) << "main list not refreshed";
    EXPECT_TRUE(catalogueUpdate->isVisible());

    // The connection is left usable: the next import goes through.
    Exec(QStringLiteral("drop trigger refuse"));
    catalogueUpdate->SetAnswerBuffer(Record("5", "e"));
    ui::Guarded([this] { catalogueUpdate->ImportAnswer(); });
    EXPECT_EQ(StoredRows().size(), 3u);
    EXPECT_EQ(fakes.dialogs.errors.size(), 1);
  }
}

}  // namespace
