#include "exchange/paper_download_window.h"

#include "exchange/download_folder.h"
#include "platform/internet_mark.h"
#include "exchange/server_pages.h"
#include "exchange/paper_path.h"
#include "exchange/query_value.h"
#include "net/pump_policy.h"
#include "net/body_sink.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "ui/gbk_text.h"
#include "ui/locale_format.h"
#include "ui/seams.h"
#include "vextal_config.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTime>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace {

constexpr const char* kCaption = "进度条";
constexpr int kClientWidth = 677;
constexpr int kClientHeight = 49;

// A failure of the download that the window swallows; it carries no text because nobody ever shows it.
class DownloadFailed : public std::runtime_error {
 public:
  DownloadFailed() : std::runtime_error("paper download failed") {}
};

// Streams a paper into a temporary file beside its final name and puts it in place by a rename only once the body is
// complete: a broken transfer never leaves a truncated paper under the name "打开试卷" opens, nor spoils the copy an
// earlier download left there. Destroyed without Commit, it removes the temporary file.
// Not QSaveFile: its commit forces the whole file to the disk (fdatasync), which for a large paper stalls the UI
// thread for longer than the download itself took, where the program has always relied on the system's own write-back.
class PaperFileSink : public net::BodySink {
 public:
  explicit PaperFileSink(const QString& target) : m_target(target) {
    const QString folder = QFileInfo(target).absolutePath();
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
      m_file.setFileName(folder + QLatin1Char('/') + exchange::TemporaryPaperName(QRandomGenerator::global()->generate()));
      // NewOnly: never write into a file somebody else made; fails when the folder is missing, so nothing is fetched
      // for a file that could not be kept.
      if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) return;
      if (!QFileInfo(folder).isDir()) break;
    }
    throw DownloadFailed();
  }

  ~PaperFileSink() override {
    if (m_committed) return;
    m_file.close();
    m_file.remove();
  }

  PaperFileSink(const PaperFileSink&) = delete;
  PaperFileSink& operator=(const PaperFileSink&) = delete;

  void Append(const char* data, std::size_t size) override {
    if (m_file.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size)) throw DownloadFailed();
  }

  // Replaces any file of the target's name: std::filesystem::rename replaces an existing file on every platform
  // (MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows), so there is no moment without a paper under that name.
  // The mark of the Internet goes on under the final name, before the row turns "打开" (Wine keeps a stream as a file
  // of its own beside the paper, which a rename would leave behind under the temporary name).
  void Commit(std::string_view sourceUrl) {
    m_file.close();
    if (m_file.error() != QFileDevice::NoError) throw DownloadFailed();
    const std::filesystem::path target = QFileInfo(m_target).filesystemFilePath();
    std::error_code error;
    std::filesystem::rename(QFileInfo(m_file.fileName()).filesystemFilePath(), target, error);
    if (error) throw DownloadFailed();
    m_committed = true;
    platform::MarkFromInternet(target, sourceUrl);
  }

 private:
  static constexpr int kTemporaryNameAttempts = 16;

  QString m_target;
  QFile m_file;
  bool m_committed = false;
};

}  // namespace


exchange::PaperDownloadWindow::PaperDownloadWindow(store::ResultSet* mainList, QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      m_mainList(mainList),
      m_contentServer(vextal::kContentServer) {
  // Both requests of a download report progress, so the bar starts over for the file.
  FollowTransfers(m_http);
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

void exchange::PaperDownloadWindow::Download() {
  // Lets the window paint itself before the first request blocks.
  QCoreApplication::processEvents();
  // From now on, and for every client of the process, the UI is served after every wait and every send, so a long
  // download keeps the window and the grid responsive while data streams in. Never undone.
  if (net::PumpPolicy* policy = net::PumpPolicy::InForce()) policy->SetOnlyWhenIdle(false);
  try {
    DownloadCurrentPaper();
    hide();
  } catch (...) {
    // Deliberately silent: a failed download shows nothing and leaves the window where it is.
  }
}

void exchange::PaperDownloadWindow::DownloadCurrentPaper() {
  // The row is remembered by its F_id, so the result lands on the paper whose number was sent even when the user
  // selects another row while the file streams in.
  const qint64 id = m_mainList->CurrentId();
  // An empty list has no paper to fetch; editing it would insert a row holding only the download's values.
  if (id < 0) return;
  const std::string number =
      exchange::QueryValueOf(ui::EncodeGbk(m_mainList->FieldAsText(QStringLiteral("F_bh"))));

  const std::string answer = m_http.GetText(m_contentServer + exchange::kFileNamePage + number, exchange::kMaxPageBytes);
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

  PaperFileSink file(target);
  const std::string url = m_contentServer + exchange::UploadPathOf(answer);
  m_http.Get(url, file);
  file.Commit(url);

  m_mainList->UpdateById(id, {{QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusOpen)},
                              {QStringLiteral("F_GXSJ"), DownloadTimeText(ui::clock().Now())},
                              {QStringLiteral("F_BDWJ"), localText}});
}

QString exchange::PaperDownloadWindow::DownloadTimeText(const QDateTime& when) {
  QString text = when.date().toString(ui::ShortDateFormat());
  const QTime time = when.time();
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
    text += QLatin1Char(' ') + time.toString(ui::LongTimeFormat());
  }
  return text;
}
