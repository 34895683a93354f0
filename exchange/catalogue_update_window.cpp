#include "exchange/catalogue_update_window.h"

#include "ui/gbk_text.h"
#include "exchange/server_pages.h"
#include "exchange/query_value.h"
#include "net/http_error.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "ui/error_report.h"
#include "ui/seams.h"
#include "vextal_config.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr const char* kCaption = "更新题库";
constexpr int kClientWidth = 744;
constexpr int kClientHeight = 49;
// What the update protocol asks from when the catalogue holds no server number yet.
constexpr const char* kFirstServerNumber = "1";
constexpr const char* kSummaryBefore = "系统已升级完成，共下载";
constexpr const char* kSummaryAfter = "套试卷";

}  // namespace

exchange::CatalogueUpdateWindow::CatalogueUpdateWindow(QSqlDatabase database, store::ResultSet* mainList, QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      ImportButton(new QPushButton(this)),
      m_database(database),
      m_query(new store::ResultSet(database, this)),
      m_mainList(mainList),
      m_contentServer(vextal::kContentServer) {
  ImportButton->setObjectName(QStringLiteral("ImportButton"));
  ImportButton->hide();
  connect(ImportButton, &QPushButton::clicked, this, [this] { ui::Guarded([this] { ImportAnswer(); }); });

  OfferCancel();
  FollowTransfers(m_http);
  m_http.ReadTimeout = download::kSilentLinkLimitMs;
}

QString exchange::CatalogueUpdateWindow::HighestServerNumber() {
  m_query->Close();
  m_query->SetStatement(store::HighWaterMarkStatement());
  m_query->Open();
  const QString number = m_query->FieldAsText(QStringLiteral("F_bh"));
  return number.isEmpty() ? QString::fromLatin1(kFirstServerNumber) : number;
}

void exchange::CatalogueUpdateWindow::OnCountdownTick() {
  Countdown().Tick();
  if (!Countdown().Fires(ui::kReading28)) {
    return;
  }
  // The get pumps the event queue: a tick arriving meanwhile must not start a second get on the same client. The
  // import and its message count as running too, so the menu command cannot start the update again under them.
  ui::CountdownTrigger::ActionScope running(Countdown());
  const std::string mark = exchange::QueryValueOf(ui::EncodeGbk(HighestServerNumber()));
  const std::string url = m_contentServer + exchange::kUpdatePage + mark;
  m_cancelled = false;
  std::string answer;
  try {
    const CancelScope cancellable(*this, [this] { CancelUpdate(); });
    answer = m_http.GetText(url, exchange::kMaxUpdateAnswerBytes);
  } catch (const net::HttpClientError&) {
    if (!m_cancelled) throw;
  }
  // A cancel that the get's last pump served, after the answer was already whole, counts too: the user asked for
  // nothing to be imported.
  if (m_cancelled) {
    Countdown().Stop();
    hide();
    return;
  }
  m_answer = std::move(answer);
  Countdown().Stop();
  if (!m_answer.empty()) {
    ImportAnswer();
    return;
  }
  ui::dialogs().ShowMessage(QString::fromUtf8(kNothingNewerText));
  hide();
}

void exchange::CatalogueUpdateWindow::CancelUpdate() {
  m_cancelled = true;
  m_http.Cancel();
}

void exchange::CatalogueUpdateWindow::ImportAnswer() {
  const int appended = AppendRecords(exchange::ParseAnswer(m_answer));
  ui::dialogs().ShowMessage(QString::fromUtf8(kSummaryBefore) + QString::number(appended) +
                            QString::fromUtf8(kSummaryAfter));
  m_mainList->Refresh();
  hide();
}

int exchange::CatalogueUpdateWindow::AppendRecords(const std::vector<exchange::Record>& records) {
  // The append target is opened once for the whole answer: reopening it before every record would cost a query per
  // row and change nothing, since an append never depends on the rows the target holds.
  m_query->Close();
  m_query->SetStatement(store::AppendTargetStatement());
  m_query->Open();
  // One transaction for the whole answer: a commit per row costs a disk sync per row, which makes a large import
  // take minutes. Without a transaction (the engine refused one) the rows are posted one by one as before.
  const bool batched = m_database.transaction();
  std::size_t posted = 0;
  try {
    for (; posted < records.size(); ++posted) {
      AppendRecord(records[posted]);
    }
    if (batched && !m_database.commit()) {
      // The engine lost the batch at its commit: post the rows one by one, so each is stored or its error reported.
      m_database.rollback();
      for (const exchange::Record& record : records) {
        AppendRecord(record);
      }
    }
  } catch (...) {
    if (batched && posted < records.size()) {
      KeepPosted(records, posted);
    }
    m_query->Close();
    throw;
  }
  // The rows appended are the catalogue's now; holding them here as well would only keep memory.
  m_query->Close();
  return static_cast<int>(posted);
}

void exchange::CatalogueUpdateWindow::KeepPosted(const std::vector<exchange::Record>& records, std::size_t count) {
  if (m_database.commit()) {
    return;
  }
  // Some failures (a trigger's rollback, a full disk) make the engine throw away the whole transaction, with the rows
  // posted before the failing one; those rows were accepted, so they are stored again, each on its own.
  m_database.rollback();
  for (std::size_t i = 0; i < count; ++i) {
    AppendRecord(records[i]);
  }
}

void exchange::CatalogueUpdateWindow::AppendRecord(const exchange::Record& record) {
  m_query->Append();
  m_query->SetField(QStringLiteral("F_bh"), ui::DecodeGbk(record.F_bh));
  m_query->SetField(QStringLiteral("F_SJMC"), ui::DecodeGbk(record.F_SJMC));
  m_query->SetField(QStringLiteral("F_KM"), ui::DecodeGbk(record.F_KM));
  m_query->SetField(QStringLiteral("F_ZFL1"), ui::DecodeGbk(record.F_ZFL1));
  m_query->SetField(QStringLiteral("F_LB"), ui::DecodeGbk(record.F_LB));
  m_query->SetField(QStringLiteral("F_MS"), ui::DecodeGbk(record.F_MS));
  m_query->SetField(QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusToDownload));
  m_query->Post();
}
