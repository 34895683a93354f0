#include "exchange/JinDuTiaoUnit3.h"

#include "exchange/gbk_text.h"
#include "exchange/internet_mark.h"
#include "exchange/page_limits.h"
#include "exchange/paper_path.h"
#include "exchange/query_value.h"
#include "net/anti_freeze.h"
#include "net/body_sink.h"
#include "store/result_set.h"
#include "store/statements.h"
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

TForm3* Form3 = nullptr;

namespace {

constexpr const char* kCaption = "进度条";
constexpr int kClientWidth = 677;
constexpr int kClientHeight = 49;

constexpr const char* kFileNamePage = "/admin/ZPR_BhToDown.asp?bh=";

// The temporary name a paper streams into: ".vextal-" and eight lower-case hex digits, then ".part". Short, so a
// target name near the file system's length limit still gets one; exact, so the clean-up at start-up can tell the
// program's own debris from a user's ".part" file.
constexpr const char* kTemporaryPrefix = ".vextal-";
constexpr const char* kTemporarySuffix = ".part";
constexpr int kTemporaryDigits = 8;
constexpr int kTemporaryBase = 16;

QString TemporaryPaperName(quint32 random) {
  return QLatin1String(kTemporaryPrefix) + QStringLiteral("%1").arg(random, kTemporaryDigits, kTemporaryBase,
                                                                       QLatin1Char('0')) +
         QLatin1String(kTemporarySuffix);
}

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
      m_file.setFileName(folder + QLatin1Char('/') + TemporaryPaperName(QRandomGenerator::global()->generate()));
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
    exchange::MarkFromInternet(target, sourceUrl);
  }

 private:
  static constexpr int kTemporaryNameAttempts = 16;

  QString m_target;
  QFile m_file;
  bool m_committed = false;
};

}  // namespace

namespace exchange {

bool IsTemporaryPaperName(const QString& fileName) {
  const QLatin1String prefix(kTemporaryPrefix);
  const QLatin1String suffix(kTemporarySuffix);
  if (fileName.size() != prefix.size() + kTemporaryDigits + suffix.size() || !fileName.startsWith(prefix) ||
      !fileName.endsWith(suffix)) {
    return false;
  }
  const QString digits = fileName.mid(prefix.size(), kTemporaryDigits);
  return std::all_of(digits.cbegin(), digits.cend(), [](QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
  });
}

void PrepareDownloadFolder(const QString& folder) {
  // Nothing to report when it cannot be made: the first download then fails silently, as it always has.
  QDir().mkpath(folder);
  // A paper streams into its temporary file in the folder it is going to, a sub-folder too; the process can end in
  // the middle of it (the program ends by a hard exit), leaving the file behind. Links are neither followed nor
  // removed: the program never makes one.
  QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (files.hasNext()) {
    const QFileInfo file(files.next());
    if (!file.isSymLink() && IsTemporaryPaperName(file.fileName())) {
      QFile::remove(file.filePath());
    }
  }
}

}  // namespace exchange

TForm3::TForm3(store::ResultSet* mainList, QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      m_mainList(mainList),
      m_contentServer(vextal::kContentServer) {
  // Both requests of a download report progress, so the bar starts over for the file.
  m_http.OnWorkBegin = [this](net::HttpClient&, net::WorkMode mode, std::int64_t max) { IdHTTP1WorkBegin(mode, max); };
  m_http.OnWork = [this](net::HttpClient&, net::WorkMode mode, std::int64_t count) { IdHTTP1Work(mode, count); };
}

void TForm3::Timer1Timer() {
  Countdown().Tick();
  if (!Countdown().Fires(ui::kReading28)) return;
  {
    ui::CountdownTrigger::ActionScope running(Countdown());
    Download();
  }
  // Success or not, the countdown ends here: a failed download leaves the window idle on screen.
  Countdown().Stop();
}

void TForm3::Download() {
  // Lets the window paint itself before the first request blocks.
  QCoreApplication::processEvents();
  // From now on, and for every client of the process, the UI is served after every wait and every send, so a long
  // download keeps the window and the grid responsive while data streams in. Never undone.
  if (net::AntiFreeze* policy = net::AntiFreeze::InForce()) policy->SetOnlyWhenIdle(false);
  try {
    DownloadCurrentPaper();
    hide();
  } catch (...) {
    // Deliberately silent: a failed download shows nothing and leaves the window where it is.
  }
}

void TForm3::DownloadCurrentPaper() {
  // The row is remembered by its F_id, so the result lands on the paper whose number was sent even when the user
  // selects another row while the file streams in.
  const qint64 id = m_mainList->CurrentId();
  // An empty list has no paper to fetch; editing it would insert a row holding only the download's values.
  if (id < 0) return;
  const std::string number =
      exchange::QueryValueOf(exchange::EncodeGbk(m_mainList->FieldAsText(QStringLiteral("F_bh"))));

  const std::string answer = m_http.GetText(m_contentServer + kFileNamePage + number, exchange::kMaxPageBytes);
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
  const QString target = exchange::DownloadFilePath(*local, exchange::DefaultDownloadFolder());
  if (target.isEmpty()) throw DownloadFailed();

  PaperFileSink file(target);
  const std::string url = m_contentServer + exchange::UploadPathOf(answer);
  m_http.Get(url, file);
  file.Commit(url);

  // The name as the main window joins it under the download folder to open the file.
  QString localText = exchange::DecodeGbk(*local);
  localText.replace(QLatin1Char('\\'), QLatin1Char('/'));
  m_mainList->UpdateById(id, {{QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusOpen)},
                              {QStringLiteral("F_GXSJ"), DownloadTimeText(ui::clock().Now())},
                              {QStringLiteral("F_BDWJ"), localText}});
}

QString TForm3::DownloadTimeText(const QDateTime& when) {
  QString text = when.date().toString(ui::ShortDateFormat());
  const QTime time = when.time();
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
    text += QLatin1Char(' ') + time.toString(ui::LongTimeFormat());
  }
  return text;
}

void TForm3::IdHTTP1WorkBegin(net::WorkMode, std::int64_t max) {
  m_barShift = 0;
  while ((max >> m_barShift) > std::numeric_limits<int>::max()) ++m_barShift;
  ProgressBar1->setMinimum(0);
  ProgressBar1->setMaximum(BarValue(max));
  ProgressBar1->setValue(0);
}

void TForm3::IdHTTP1Work(net::WorkMode, std::int64_t count) { ProgressBar1->setValue(BarValue(count)); }

int TForm3::BarValue(std::int64_t bytes) const {
  // A body of unknown length (read to the close) has no maximum to stay under.
  return static_cast<int>(std::clamp<std::int64_t>(bytes >> m_barShift, 0, std::numeric_limits<int>::max()));
}
