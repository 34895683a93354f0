#include "exchange/paper_download_window.h"

#include "exchange/download_attempts.h"
#include "exchange/download_folder.h"
#include "exchange/paper_file.h"
#include "platform/internet_mark.h"
#include "exchange/server_pages.h"
#include "exchange/paper_path.h"
#include "exchange/resumable_download.h"
#include "exchange/query_value.h"
#include "net/pump_policy.h"
#include "net/body_sink.h"
#include "net/http_error.h"
#include "net/http_text.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "ui/gbk_text.h"
#include "ui/locale_format.h"
#include "ui/seams.h"
#include "vextal_config.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProgressBar>
#include <QScopeGuard>
#include <QLabel>
#include <QTimer>
#include <QTime>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

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
      m_transferText(new QLabel(this)),
      m_mainList(mainList),
      m_contentServer(vextal::kContentServer) {
  // The bar gives up the strip's right end to the button that stops it and, left of that, to the text that says what
  // it shows.
  OfferCancel();
  const QRect bar = ProgressBar->geometry();
  const int textLeft = bar.right() + 1 - kTransferTextWidth;
  ProgressBar->setGeometry(bar.x(), bar.y(), textLeft - bar.x(), bar.height());
  m_transferText->setObjectName(QStringLiteral("TransferText"));
  m_transferText->setAccessibleName(QString::fromUtf8(kTransferTextName));
  m_transferText->setGeometry(textLeft + kTransferTextGap, bar.y(), kTransferTextWidth - kTransferTextGap, bar.height());
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
  m_http.ReadTimeout = exchange::kSilentLinkLimitMs;
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
  if (m_pause) m_pause->quit();
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
  ShowTransferText(QString());
  exchange::DownloadAttempts attempts;
  attempts.Attempt = [this, id] { DownloadPaper(id); };
  // The user stopped it, or deleted the paper: the strip goes, and what was kept stays for the next download.
  attempts.Stopped = [this] { return m_cancelled || m_paperGone; };
  attempts.Pause = [this, id](int ms) {
    // A paper deleted while the failed request waited is not waited for.
    if (!m_mainList->StoredFieldById(id, QStringLiteral("F_id"))) m_paperGone = true;
    return !m_paperGone && m_retryPause(ms);
  };
  attempts.BeforePause = [this](int nextTry, int pauseMs) {
    ShowTransferText(QString::fromStdString(exchange::RetryText(nextTry, pauseMs)));
  };
  attempts.NowSeconds = [] { return ui::clock().Now().toSecsSinceEpoch(); };
  if (attempts.Run(m_http) != exchange::DownloadAttempts::Outcome::kFailed) {
    hide();
    return;
  }
  // A failed download leaves the window where it is. Only the network's page in the paper's place is named, since the
  // user can mend it (log in to the network, or leave it); every other failure stays silent, as it always was.
  try {
    if (attempts.Failure()) std::rethrow_exception(attempts.Failure());
  } catch (const exchange::InterceptedAnswer&) {
    ShowTransferText(QString::fromUtf16(exchange::kInterceptedText.data(),
                                       static_cast<qsizetype>(exchange::kInterceptedText.size())));
  } catch (...) {
  }
}

void exchange::PaperDownloadWindow::DownloadPaper(qint64 id) {
  m_http.ExtraHeaders.clear();
  m_progressOffset = 0;
  m_showsTransfer = false;
  // Read from the catalogue for every try, never from the list on screen, which a search may have reopened without
  // the paper. A paper deleted meanwhile ends its download as done: nothing to record.
  const std::optional<QString> storedNumber = m_mainList->StoredFieldById(id, QStringLiteral("F_bh"));
  if (!storedNumber) return;
  const std::string number = exchange::QueryValueOf(ui::EncodeGbk(*storedNumber));

  const std::string page = m_contentServer + exchange::kFileNamePage + number;
  std::string answer;
  try {
    answer = m_http.GetText(page, exchange::kMaxPageBytes);
  } catch (const net::HttpClientError& error) {
    ThrowIfRedirectedElsewhere(error, page);
    throw;
  }
  if (answer.empty()) {
    m_mainList->UpdateById(id, {{QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusNoFile)}});
    return;
  }

  // A name the server sends must never place a file outside the download folder; such an answer counts as a file
  // that cannot be written, and is not fetched at all.
  const std::optional<std::string> local = exchange::SafeLocalNameOf(answer);
  if (!local) throw DownloadFailed();
  // Nor may it choose a file that runs a program when the user opens the "paper".
  if (exchange::IsRunnableFileName(*local)) throw DownloadFailed();
  // Decoded once: the same text names the file and goes into the row, where "打开试卷" finds it again.
  const QString localText = ui::DecodeGbk(*local);
  const QString target = exchange::PaperFilePath(localText);
  if (target.isEmpty()) throw DownloadFailed();

  PaperFileSink file(target, [this](std::int64_t kept, std::int64_t) {
    m_progressOffset = kept;
    m_showsTransfer = true;
  });
  const std::string url = m_contentServer + exchange::UploadPathOf(answer);
  try {
    exchange::FetchInto(m_http, url, file);
  } catch (const net::HttpClientError& error) {
    // Nobody will ask for the rest of a paper that is gone.
    if (m_paperGone) file.Discard();
    ThrowIfRedirectedElsewhere(error, url);
    throw;
  }

  m_mainList->UpdateById(id, {{QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusOpen)},
                              {QStringLiteral("F_GXSJ"), DownloadTimeText(ui::clock().Now())},
                              {QStringLiteral("F_BDWJ"), localText}});
}

void exchange::PaperDownloadWindow::ThrowIfRedirectedElsewhere(const net::HttpClientError& error,
                                                               const std::string& url) const {
  if (error.Kind() == net::ErrorKind::ProtocolError &&
      exchange::IsRedirectElsewhere(url, error.Code(), m_http.Response().Location)) {
    throw exchange::InterceptedAnswer();
  }
}

void exchange::PaperDownloadWindow::OnTransferBegin(std::int64_t max) {
  const std::int64_t total = exchange::AddByteCounts(m_progressOffset, max);
  StartProgress(total);
  ShowProgress(m_progressOffset);
  if (!m_showsTransfer) return;
  m_meter.Start(NowMs(), m_progressOffset, total);
  if (const auto text = m_meter.Update(NowMs(), m_progressOffset)) ShowTransferText(QString::fromStdString(*text));
}

void exchange::PaperDownloadWindow::OnTransferProgress(std::int64_t count) {
  const std::int64_t received = exchange::AddByteCounts(m_progressOffset, count);
  ShowProgress(received);
  if (!m_showsTransfer) return;
  if (const auto text = m_meter.Update(NowMs(), received)) {
    ShowTransferText(QString::fromStdString(*text));
  }
}

void exchange::PaperDownloadWindow::ShowTransferText(const QString& text) {
  m_transferText->setText(text);
  // What a screen reader says of the bar, too.
  ProgressBar->setAccessibleDescription(text);
}

QString exchange::PaperDownloadWindow::TransferText() const { return m_transferText->text(); }

bool exchange::PaperDownloadWindow::PauseBeforeRetry(int ms) {
  // The strip stays responsive while it waits, like a request's own wait; a cancel or the paper's deletion ends the
  // wait at once.
  if (m_cancelled || m_paperGone) return false;
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  m_pause = &loop;
  loop.exec();
  m_pause = nullptr;
  return !m_cancelled && !m_paperGone;
}

QString exchange::PaperDownloadWindow::DownloadTimeText(const QDateTime& when) {
  QString text = when.date().toString(ui::ShortDateFormat());
  const QTime time = when.time();
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
    text += QLatin1Char(' ') + time.toString(ui::LongTimeFormat());
  }
  return text;
}
