#include "exchange/AddUnit3.h"

#include "exchange/gbk_text.h"
#include "exchange/page_limits.h"
#include "exchange/query_value.h"
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

TAddSp* AddSp = nullptr;

namespace {

constexpr const char* kCaption = "更新题库";
constexpr int kClientWidth = 744;
constexpr int kClientHeight = 49;
// What the update protocol asks from when the catalogue holds no server number yet.
constexpr const char* kFirstServerNumber = "1";
constexpr const char* kUpdatePage = "/admin/ZPR_UpCount.asp?id=";
constexpr const char* kAlreadyCurrent = "系统已经是最新版本了！";
constexpr const char* kSummaryBefore = "系统已升级完成，共下载";
constexpr const char* kSummaryAfter = "套试卷";

constexpr std::int64_t kProgressLimit = std::numeric_limits<int>::max();

}  // namespace

TAddSp::TAddSp(QSqlDatabase database, store::ResultSet* mainList, QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      Button2(new QPushButton(this)),
      m_database(database),
      m_query(new store::ResultSet(database, this)),
      m_mainList(mainList),
      m_contentServer(vextal::kContentServer) {
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->hide();
  connect(Button2, &QPushButton::clicked, this, [this] { ui::Guarded([this] { Button2Click(); }); });

  m_http.OnWorkBegin = [this](net::HttpClient&, net::WorkMode, std::int64_t max) { IdHTTP1WorkBegin(max); };
  m_http.OnWork = [this](net::HttpClient&, net::WorkMode, std::int64_t count) { IdHTTP1Work(count); };
}

QString TAddSp::HighestServerNumber() {
  m_query->Close();
  m_query->SetStatement(store::HighWaterMarkStatement());
  m_query->Open();
  const QString number = m_query->FieldAsText(QStringLiteral("F_bh"));
  return number.isEmpty() ? QString::fromLatin1(kFirstServerNumber) : number;
}

void TAddSp::IdHTTP1WorkBegin(std::int64_t max) {
  m_progressDivisor = max > kProgressLimit ? max / kProgressLimit + 1 : 1;
  ProgressBar1->setMaximum(static_cast<int>(std::max<std::int64_t>(max, 0) / m_progressDivisor));
  ProgressBar1->setMinimum(0);
  ProgressBar1->setValue(0);
}

void TAddSp::IdHTTP1Work(std::int64_t count) {
  // A body longer than announced stops the bar at its end rather than leaving it where it was.
  const auto position = std::min<std::int64_t>(count / m_progressDivisor, ProgressBar1->maximum());
  ProgressBar1->setValue(static_cast<int>(position));
}

void TAddSp::Timer1Timer() {
  Countdown().Tick();
  if (!Countdown().Fires(ui::kReading28)) {
    return;
  }
  // The get pumps the event queue: a tick arriving meanwhile must not start a second get on the same client. The
  // import and its message count as running too, so the menu command cannot start the update again under them.
  ui::CountdownTrigger::ActionScope running(Countdown());
  const std::string mark = exchange::QueryValueOf(exchange::EncodeGbk(HighestServerNumber()));
  const std::string url = m_contentServer + kUpdatePage + mark;
  m_answer = m_http.GetText(url, exchange::kMaxUpdateAnswerBytes);
  Countdown().Stop();
  if (!m_answer.empty()) {
    Button2Click();
    return;
  }
  ui::dialogs().ShowMessage(QString::fromUtf8(kAlreadyCurrent));
  hide();
}

void TAddSp::Button2Click() {
  const int appended = AppendRecords(exchange::ParseAnswer(m_answer));
  ui::dialogs().ShowMessage(QString::fromUtf8(kSummaryBefore) + QString::number(appended) +
                            QString::fromUtf8(kSummaryAfter));
  m_mainList->Refresh();
  hide();
}

int TAddSp::AppendRecords(const std::vector<exchange::Record>& records) {
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

void TAddSp::KeepPosted(const std::vector<exchange::Record>& records, std::size_t count) {
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

void TAddSp::AppendRecord(const exchange::Record& record) {
  m_query->Append();
  m_query->SetField(QStringLiteral("F_bh"), exchange::DecodeGbk(record.F_bh));
  m_query->SetField(QStringLiteral("F_SJMC"), exchange::DecodeGbk(record.F_SJMC));
  m_query->SetField(QStringLiteral("F_KM"), exchange::DecodeGbk(record.F_KM));
  m_query->SetField(QStringLiteral("F_ZFL1"), exchange::DecodeGbk(record.F_ZFL1));
  m_query->SetField(QStringLiteral("F_LB"), exchange::DecodeGbk(record.F_LB));
  m_query->SetField(QStringLiteral("F_MS"), exchange::DecodeGbk(record.F_MS));
  m_query->SetField(QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusToDownload));
  m_query->Post();
}
