#include "exchange/paper_download_window.h"

#include "download/resumable_fetch.h"
#include "download/transfer_meter.h"
#include "download/tries.h"
#include "exchange/download_folder.h"
#include "exchange/download_report.h"
#include "exchange/paper_path.h"
#include "exchange/query_value.h"
#include "exchange/server_pages.h"
#include "net/http_error.h"
#include "net/pump_policy.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "ui/gbk_text.h"
#include "ui/locale_format.h"
#include "ui/seams.h"
#include "vextal_config.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTime>

#include <exception>
#include <optional>
#include <string>

namespace {

constexpr const char* kCaption = "进度条";
constexpr int kClientWidth = 677;
constexpr int kClientHeight = 49;
// Room for "1023.9 MB / 1023.9 MB  1023.9 KB/s  约 59 分钟" in the strip's font.
constexpr int kTransferTextWidth = 300;
constexpr int kTransferTextGap = 6;
constexpr const char* kTransferTextName = "下载进度";

std::int64_t NowMs() { return ui::clock().Now().toMSecsSinceEpoch(); }

}  // namespace

exchange::PaperDownloadWindow::PaperDownloadWindow(store::ResultSet* mainList, QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      m_transferLabel(new QLabel(this)),
      m_transferText(m_transferLabel, ProgressBar, NowMs),
      m_mainList(mainList),
      m_contentServer(vextal::kContentServer) {
  // The bar gives up the strip's right end to the button that stops it and, left of that, to the text that says what
  // it shows.
  OfferCancel();
  const QRect bar = ProgressBar->geometry();
  const int textLeft = bar.right() + 1 - kTransferTextWidth;
  ProgressBar->setGeometry(bar.x(), bar.y(), textLeft - bar.x(), bar.height());
  m_transferLabel->setObjectName(QStringLiteral("TransferText"));
  m_transferLabel->setAccessibleName(QString::fromUtf8(kTransferTextName));
  m_transferLabel->setGeometry(textLeft + kTransferTextGap, bar.y(), kTransferTextWidth - kTransferTextGap, bar.height());
  // Deleting the paper ends its download at once, in the middle of a transfer or of a pause alike.
  connect(m_mainList, &store::ResultSet::StoredRowDeleted, this, [this](qint64 id) {
    if (id != m_paperId) return;
    m_paperGone = true;
    EndTheWait();
  });
  // Both requests of a download report progress, so the bar starts over for the file; a resumed file goes on from the
  // bytes kept.
  m_http.OnWorkBegin = [this](net::HttpClient&, net::WorkMode, std::int64_t max) { OnTransferBegin(max); };
  m_http.OnWork = [this](net::HttpClient&, net::WorkMode, std::int64_t count) { OnTransferProgress(count); };
  m_http.ReadTimeout = download::kSilentLinkLimitMs;
  m_retryPause = [this](int ms) { return PauseBeforeRetry(ms); };
}

void exchange::PaperDownloadWindow::OnCountdownTick() {
  Countdown().Tick();
  if (!Countdown().Fires(ui::kReading28)) return;
  {
    ui::CountdownTrigger::ActionScope running(Countdown());
    Download();
  }
  // Success or not, the countdown ends here: a failed download leaves the window idle on screen.
  Countdown().Stop();
}

bool exchange::PaperDownloadWindow::Downloading() const { return m_paperId >= 0; }

void exchange::PaperDownloadWindow::CancelDownload() {
  if (!Downloading()) return;
  m_cancelled = true;
  EndTheWait();
}

void exchange::PaperDownloadWindow::EndTheWait() {
  m_http.Cancel();
  m_pause.End();
}

void exchange::PaperDownloadWindow::Download() {
  // Lets the window paint itself before the first request blocks.
  QCoreApplication::processEvents();
  // From now on, and for every client of the process, the UI is served after every wait and every send, so a long
  // download keeps the window and the grid responsive while data streams in. Never undone.
  if (net::PumpPolicy* policy = net::PumpPolicy::InForce()) policy->SetOnlyWhenIdle(false);
  // The download belongs to the paper, remembered by its F_id: a row selected, searched away, filtered out or sorted
  // elsewhere while the file streams in or a try waits changes nothing about it.
  const qint64 id = m_mainList->CurrentId();
  // An empty list has no paper to fetch; editing it would insert a row holding only the download's values.
  if (id < 0) return;
  m_paperId = id;
  m_cancelled = false;
  m_paperGone = false;
  const CancelScope cancellable(*this, [this] { CancelDownload(); });
  const auto done = qScopeGuard([this] { m_paperId = -1; });
  m_target.reset();
  m_transferText.Show(QString());
  // Steady, for the tries' budget and the silence rule: the user's clock may be put right meanwhile.
  QElapsedTimer steady;
  steady.start();
  download::Tries tries;
  tries.attempt = [this, id] {
    try {
      return DownloadPaper(id);
    } catch (const std::exception&) {
      // The catalogue's own failure to record the result: the paper stays "下载", as after any failed download.
      download::TryResult result;
      result.failure = download::Failure::kCannotWrite;
      return result;
    }
  };
  // The user stopped it, or deleted the paper: the strip goes, and what was kept stays for the next download.
  tries.stopped = [this] { return m_cancelled || m_paperGone; };
  tries.pause = [this, id](int ms) {
    // A paper deleted while the failed request waited is not waited for.
    if (!m_mainList->StoredFieldById(id, QStringLiteral("F_id"))) m_paperGone = true;
    return !m_paperGone && m_retryPause(ms);
  };
  tries.beforePause = [this](int nextTry, int pauseMs) {
    m_transferText.Show(QString::fromStdString(download::RetryText(nextTry, pauseMs)));
  };
  tries.nowMs = [&steady] { return steady.elapsed(); };
  tries.nowSeconds = [] { return ui::clock().Now().toSecsSinceEpoch(); };
  const download::TryResult result = tries.Run();
  // Nobody will ask for the rest of a paper that is gone, whichever of its requests or pauses the deletion met.
  if (m_paperGone && m_target) download::DiscardPartial(*m_target);
  if (result.Done() || result.failure == download::Failure::kStopped) {
    hide();
    return;
  }
  // A failed download leaves the window where it is, saying what failed and what is kept for the next download.
  m_transferText.Show(QString::fromStdString(exchange::GiveUpText(result)));
}

download::TryResult exchange::PaperDownloadWindow::DownloadPaper(qint64 id) {
  m_http.ExtraHeaders.clear();
  m_progressOffset = 0;
  m_showsTransfer = false;
  download::TryResult nothingToFetch;
  download::TryResult cannotWrite;
  cannotWrite.failure = download::Failure::kCannotWrite;
  // Read from the catalogue for every try, never from the list on screen, which a search may have reopened without
  // the paper. A paper deleted meanwhile ends its download as done: nothing to record.
  const std::optional<QString> storedNumber = m_mainList->StoredFieldById(id, QStringLiteral("F_bh"));
  if (!storedNumber) return nothingToFetch;
  const std::string number = exchange::QueryValueOf(ui::EncodeGbk(*storedNumber));

  const std::string page = m_contentServer + exchange::kFileNamePage + number;
  std::string answer;
  try {
    answer = m_http.GetText(page, exchange::kMaxPageBytes);
  } catch (const net::HttpClientError& error) {
    return download::RequestFailure(m_http, page, error);
  }
  if (answer.empty()) {
    m_mainList->UpdateById(id, {{QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusNoFile)}});
    return nothingToFetch;
  }

  // A name the server sends must never place a file outside the download folder; such an answer counts as a file
  // that cannot be written, and is not fetched at all.
  const std::optional<std::string> local = exchange::SafeLocalNameOf(answer);
  if (!local) return cannotWrite;
  // Nor may it choose a file that runs a program when the user opens the "paper".
  if (exchange::IsRunnableFileName(*local)) return cannotWrite;
  // Decoded once: the same text names the file and goes into the row, where "打开试卷" finds it again.
  const QString localText = ui::DecodeGbk(*local);
  const QString target = exchange::PaperFilePath(localText);
  if (target.isEmpty()) return cannotWrite;

  download::FetchTarget fetch;
  fetch.url = m_contentServer + exchange::UploadPathOf(answer);
  fetch.file = QFileInfo(target).filesystemFilePath();
  fetch.partialFolder = QFileInfo(exchange::ProgramFolder()).filesystemAbsoluteFilePath();
  fetch.localName = localText.toStdString();
  m_target = fetch;
  download::FetchHooks hooks;
  hooks.onBegin = [this](std::int64_t kept, std::int64_t) {
    m_progressOffset = kept;
    m_showsTransfer = true;
  };
  QElapsedTimer steady;
  steady.start();
  hooks.nowMs = [&steady] { return steady.elapsed(); };
  download::TryResult result = download::FetchOnce(m_http, fetch, hooks);
  if (!result.Done()) return result;

  m_mainList->UpdateById(id, {{QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusOpen)},
                              {QStringLiteral("F_GXSJ"), DownloadTimeText(ui::clock().Now())},
                              {QStringLiteral("F_BDWJ"), localText}});
  return result;
}

void exchange::PaperDownloadWindow::OnTransferBegin(std::int64_t max) {
  const std::int64_t total = download::AddByteCounts(m_progressOffset, max);
  StartProgress(total);
  ShowProgress(m_progressOffset);
  if (m_showsTransfer) m_transferText.Start(m_progressOffset, total);
}

void exchange::PaperDownloadWindow::OnTransferProgress(std::int64_t count) {
  const std::int64_t received = download::AddByteCounts(m_progressOffset, count);
  ShowProgress(received);
  if (m_showsTransfer) m_transferText.Update(received);
}

QString exchange::PaperDownloadWindow::TransferText() const { return m_transferText.Text(); }

bool exchange::PaperDownloadWindow::PauseBeforeRetry(int ms) {
  if (m_cancelled || m_paperGone) return false;
  return m_pause.Wait(ms) && !m_cancelled && !m_paperGone;
}

QString exchange::PaperDownloadWindow::DownloadTimeText(const QDateTime& when) {
  QString text = when.date().toString(ui::ShortDateFormat());
  const QTime time = when.time();
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
    text += QLatin1Char(' ') + time.toString(ui::LongTimeFormat());
  }
  return text;
}
