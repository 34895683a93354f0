#include "updater/updater_window.h"

#include "exchange/download_attempts.h"
#include "exchange/paper_file.h"
#include "exchange/server_pages.h"
#include "net/http_error.h"
#include "platform/user_folders.h"
#include "platform/window_show.h"
#include "ui/error_report.h"
#include "ui/gbk_text.h"
#include "ui/seams.h"
#include "updater/file_digest.h"
#include "updater/staging.h"
#include "vextal_config.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <stdexcept>
#include <system_error>
#include <variant>

namespace updater {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCaption = "更新程序";
constexpr int kWindowWidth = 460;
constexpr const char* kCancelCaption = "取消";
constexpr int kBarSteps = 1000;
// The signature page is one line of 128 hex digits; a little room for blanks around it.
constexpr std::size_t kLargestSignatureBytes = 1024;
constexpr const char* kInstallerPrefix = "vextal-setup-";
constexpr const char* kInstallerSuffix = ".exe";
// NSIS: silent, and the folder to install into, which must come last and unquoted.
constexpr const char16_t* kSilentSwitch = u"/S";
constexpr const char16_t* kInstallFolderSwitch = u"/D=";

constexpr const char* kWaitingText = "正在等待题库程序退出…";
constexpr const char* kPreparingText = "正在准备更新…";
constexpr const char* kCheckingText = "正在检查新版本…";
constexpr const char* kDownloadingText = "正在下载 %1 版…";
constexpr const char* kInstallingText = "正在安装 %1 版…";

constexpr const char* kStillRunningText =
    "题库程序在 30 秒内没有退出，没有安装新版本。请关闭题库程序后，再选“更新软件”。";
constexpr const char* kNoUpdatesFolderText = "无法建立存放更新的文件夹 %1，没有安装任何东西。";
constexpr const char* kStagingFailedText = "无法复制升级程序以便安装，没有安装任何东西。";
constexpr const char* kStagedStartFailedText = "升级程序的副本没有启动，没有安装任何东西。";
constexpr const char* kNoDescriptionText = "无法取得新版本的说明：%1\n没有安装任何东西。";
constexpr const char* kDownloadFailedText = "新版本没有下载完成：%1\n没有安装任何东西；下次更新时接着下载。";
constexpr const char* kServerCannotResumeText = "服务器无法接着发送安装程序";
constexpr const char* kCannotWriteText = "安装程序无法写入存放更新的文件夹";
constexpr const char* kWrongSizeText = "服务器发来的安装程序与新版本的说明大小不符，没有安装任何东西。";
constexpr const char* kWrongInstallerText = "下载的安装程序与新版本的说明不符，已删除，没有安装任何东西。";
constexpr const char* kInstallerNotStartedText = "安装没有完成：安装程序没有启动。原来的程序照旧可用。";
constexpr const char* kInstallFailedText =
    "安装没有完成（安装程序的结束代码为 %1）。请再选“更新软件”，或到 %2 下载新版本手动安装。";
constexpr const char* kClientNotStartedText = "题库程序 %1 没有启动，请手动启动它。";

// The server sent an installer of another length than the signed description names.
class WrongInstallerSize : public std::runtime_error {
 public:
  WrongInstallerSize() : std::runtime_error("installer size differs from the description") {}
};

// Holds the download to the length the description names: no more bytes are taken than the installer has, whatever
// the server announces or sends.
class InstallerSink : public net::BodySink {
 public:
  InstallerSink(exchange::PaperFileSink& file, std::uint64_t size) : m_file(file), m_size(size) {}

  void Begin(const net::ResponseHead& head) override { m_file.Begin(head); }
  void Reserve(std::uint64_t bytes) override { m_file.Reserve(bytes); }
  void Append(const char* data, std::size_t size) override {
    if (m_received > m_size || size > m_size - m_received) throw WrongInstallerSize();
    m_file.Append(data, size);
    m_received += size;
  }
  // What the partial file holds when the body starts.
  void StartAt(std::uint64_t kept) { m_received = kept; }

 private:
  exchange::PaperFileSink& m_file;
  std::uint64_t m_size;
  std::uint64_t m_received = 0;
};

QString PathText(const fs::path& path) { return QString::fromStdU16String(path.u16string()); }

QString DownloadFailureText(const std::exception_ptr& failure) {
  QString reason;
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const WrongInstallerSize&) {
    return QString::fromUtf8(kWrongSizeText);
  } catch (const net::HttpClientError& error) {
    reason = ui::ErrorText(error);
  } catch (const exchange::InterceptedAnswer& error) {
    reason = ui::ErrorText(error);
  } catch (const exchange::StartAgain&) {
    reason = QString::fromUtf8(kServerCannotResumeText);
  } catch (...) {
    // The file sink's failures: the partial file could not be written, or it grew past any paper's size.
    reason = QString::fromUtf8(kCannotWriteText);
  }
  return QString::fromUtf8(kDownloadFailedText).arg(reason);
}

}  // namespace

bool SystemLauncher::Start(const platform::Launch& launch) { return platform::StartProgram(launch); }

std::optional<int> SystemLauncher::RunAndWait(const platform::Launch& launch,
                                              const std::function<void()>& whileWaiting) {
  return platform::RunAndWait(launch, whileWaiting);
}

UpdaterWindow::UpdaterWindow(UpdaterSettings settings, Launcher& launcher)
    : m_settings(std::move(settings)),
      m_launcher(launcher),
      m_status(new QLabel(this)),
      m_bar(new QProgressBar(this)),
      m_transferText(new QLabel(this)),
      m_cancelButton(new QPushButton(QString::fromUtf8(kCancelCaption), this)) {
  setWindowTitle(QString::fromUtf8(kCaption));
  setFixedWidth(kWindowWidth);
  m_status->setObjectName(QStringLiteral("StatusText"));
  m_bar->setObjectName(QStringLiteral("ProgressBar"));
  m_bar->setRange(0, kBarSteps);
  m_bar->setValue(0);
  m_bar->setTextVisible(false);
  m_transferText->setObjectName(QStringLiteral("TransferText"));
  m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_status);
  layout->addWidget(m_bar);
  auto* bottom = new QHBoxLayout();
  bottom->addWidget(m_transferText, 1);
  bottom->addWidget(m_cancelButton);
  layout->addLayout(bottom);
  connect(m_cancelButton, &QPushButton::clicked, this, &UpdaterWindow::Cancel);

  // The window and its button stay alive during every wait of a transfer, not only the idle ones.
  m_pump.SetOnlyWhenIdle(false);
  m_http.ReadTimeout = exchange::kSilentLinkLimitMs;
  m_http.OnWorkBegin = [this](net::HttpClient&, net::WorkMode, std::int64_t max) { OnTransferBegin(max); };
  m_http.OnWork = [this](net::HttpClient&, net::WorkMode, std::int64_t count) { OnTransferProgress(count); };
  m_pause = [this](int ms) { return RealPause(ms); };
}

UpdaterWindow::~UpdaterWindow() = default;

QString UpdaterWindow::StatusText() const { return m_status->text(); }
QString UpdaterWindow::TransferText() const { return m_transferText->text(); }

void UpdaterWindow::Cancel() {
  if (!m_cancelButton->isEnabled()) return;
  m_cancelled = true;
  m_http.Cancel();
  if (m_pauseLoop) m_pauseLoop->quit();
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
  // Closing the window is a cancel; the road itself decides when the program ends.
  if (m_running) {
    Cancel();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

UpdateResult UpdaterWindow::Run() {
  m_running = true;
  m_cancelled = false;
  show();
  platform::ShowForReal(reinterpret_cast<platform::WindowHandle>(winId()));
  // Lets the window paint itself before the first wait.
  QCoreApplication::processEvents();
  const UpdateResult result = [this] {
    if (m_settings.updatesFolder.empty() || !platform::MakePrivateFolder(m_settings.updatesFolder)) {
      return GiveUp(QString::fromUtf8(kNoUpdatesFolderText).arg(PathText(m_settings.updatesFolder)));
    }
    if (!WaitForTheProgramToEnd()) {
      if (m_cancelled) return GiveUp(QString());
      ui::dialogs().ShowMessage(QString::fromUtf8(kStillRunningText));
      return UpdateResult::kStillRunning;
    }
    // Only with the folder held: a staged copy at work holds it, and its folder is not stale.
    RemoveStaleStaging(m_settings.updatesFolder, m_settings.ownProgram.parent_path());
    if (m_settings.stageFirst) return StageAndHandOver();
    const std::optional<VerifiedUpdate> update = FetchDescription();
    if (!update) return UpdateResult::kNotInstalled;
    const std::optional<fs::path> installer = DownloadInstaller(*update);
    if (!installer) return UpdateResult::kNotInstalled;
    return Install(*update, *installer);
  }();
  m_running = false;
  return result;
}

bool UpdaterWindow::WaitForTheProgramToEnd() {
  SetStatus(QString::fromUtf8(kWaitingText));
  const fs::path lockFile = m_settings.workingFolder / platform::kWorkingFolderLockFile;
  for (int waited = 0;; waited += kLockLookEveryMs) {
    switch (m_folderLock.Acquire(lockFile)) {
      case platform::FolderLock::Outcome::kHeld:
        // A client started meanwhile brings this window forward instead of opening the folder under the installer.
        m_folderLock.RecordWindow(reinterpret_cast<platform::WindowHandle>(winId()));
        return true;
      // Where no lock can be had the client runs without one too; nothing better can be known of it.
      case platform::FolderLock::Outcome::kUnavailable:
        return true;
      case platform::FolderLock::Outcome::kHeldElsewhere:
        break;
    }
    if (waited >= kProgramEndWaitMs || !m_pause(kLockLookEveryMs) || m_cancelled) return false;
  }
}

UpdateResult UpdaterWindow::StageAndHandOver() {
  SetStatus(QString::fromUtf8(kPreparingText));
  const std::optional<fs::path> copy =
      StageProgramFiles(m_settings.installFolder, m_settings.ownProgram, m_settings.updatesFolder);
  if (!copy) return GiveUp(QString::fromUtf8(kStagingFailedText));
  // The copy waits for the folder's lock in its turn, which this process lets go of only by ending.
  platform::Launch launch{*copy, StagedArguments(m_settings.installFolder), false, m_settings.workingFolder};
  if (!m_launcher.Start(launch)) return GiveUp(QString::fromUtf8(kStagedStartFailedText));
  return UpdateResult::kHandedOver;
}

std::optional<VerifiedUpdate> UpdaterWindow::FetchDescription() {
  SetStatus(QString::fromUtf8(kCheckingText));
  std::string description;
  std::string signature;
  try {
    description = m_http.GetText(m_settings.versionServer + kDescriptionPage, kLargestDescriptionBytes);
    signature = m_http.GetText(m_settings.versionServer + kSignaturePage, kLargestSignatureBytes);
  } catch (const net::HttpClientError& error) {
    GiveUp(m_cancelled ? QString() : QString::fromUtf8(kNoDescriptionText).arg(ui::ErrorText(error)));
    return std::nullopt;
  }
  const auto verified = VerifyUpdate(
      {description, signature, m_settings.publicKeyHex, m_settings.runningVersion, m_settings.versionServer});
  if (const Refusal* refusal = std::get_if<Refusal>(&verified)) {
    GiveUp(QString::fromStdString(RefusalText(*refusal)));
    return std::nullopt;
  }
  return std::get<VerifiedUpdate>(verified);
}

std::optional<fs::path> UpdaterWindow::DownloadInstaller(const VerifiedUpdate& update) {
  const UpdateDescription& facts = update.description;
  SetStatus(QString::fromUtf8(kDownloadingText).arg(QString::fromStdString(facts.version)));
  // The version is dotted digits only (VerifyUpdate), so it can name a file.
  const fs::path target = m_settings.updatesFolder / (kInstallerPrefix + facts.version + kInstallerSuffix);
  // An earlier run fetched it whole and then did not install it: the same bytes need not come again.
  if (FileHasSha256(target, facts.sha256, facts.size)) return target;

  exchange::DownloadAttempts attempts;
  attempts.Attempt = [this, &update, &target] { FetchInstaller(update, target); };
  attempts.Stopped = [this] { return m_cancelled; };
  attempts.Pause = [this](int ms) { return m_pause(ms); };
  attempts.BeforePause = [this](int nextTry, int pauseMs) {
    ShowTransferText(QString::fromStdString(exchange::RetryText(nextTry, pauseMs)));
  };
  attempts.NowSeconds = [] { return QDateTime::currentSecsSinceEpoch(); };
  const exchange::DownloadAttempts::Outcome outcome = attempts.Run(m_http);
  if (outcome == exchange::DownloadAttempts::Outcome::kDone) return target;
  if (m_cancelled || outcome == exchange::DownloadAttempts::Outcome::kStopped) {
    // What arrived stays for the next run, which asks for the rest.
    GiveUp(QString());
    return std::nullopt;
  }
  GiveUp(DownloadFailureText(attempts.Failure()));
  return std::nullopt;
}

void UpdaterWindow::FetchInstaller(const VerifiedUpdate& update, const fs::path& target) {
  m_progressOffset = 0;
  m_showsTransfer = false;
  const std::uint64_t size = update.description.size;
  InstallerSink* sink = nullptr;
  exchange::PaperFileSink file(
      PathText(target),
      [this, size, &sink](std::int64_t kept, std::int64_t total) {
        if (total >= 0 && static_cast<std::uint64_t>(total) != size) throw WrongInstallerSize();
        m_progressOffset = kept;
        m_total = static_cast<std::int64_t>(size);
        m_showsTransfer = true;
        sink->StartAt(static_cast<std::uint64_t>(kept));
      },
      PathText(m_settings.updatesFolder));
  InstallerSink bounded(file, size);
  sink = &bounded;
  try {
    exchange::FetchInto(m_http, update.installerUrl, file, bounded);
  } catch (const WrongInstallerSize&) {
    // Bytes of another file than the one described are worth nothing to the next run either.
    file.Discard();
    throw;
  }
}

UpdateResult UpdaterWindow::Install(const VerifiedUpdate& update, const fs::path& installer) {
  SetStatus(QString::fromUtf8(kInstallingText).arg(QString::fromStdString(update.description.version)));
  if (m_cancelled) return GiveUp(QString());
  m_cancelButton->setEnabled(false);
  // Checked once more right before it runs: the file lay on disk since it arrived.
  if (!FileHasSha256(installer, update.description.sha256, update.description.size)) {
    std::error_code ignored;
    fs::remove(installer, ignored);
    return GiveUp(QString::fromUtf8(kWrongInstallerText));
  }
  platform::MakeRunnable(installer);
  const fs::path folder = m_settings.installFolder.lexically_normal().make_preferred();
  platform::Launch launch{installer, {kSilentSwitch, kInstallFolderSwitch + folder.u16string()}, true,
                          m_settings.updatesFolder};
  const std::optional<int> exitCode =
      m_launcher.RunAndWait(launch, [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  if (!exitCode) return GiveUp(QString::fromUtf8(kInstallerNotStartedText));
  if (*exitCode != 0) {
    return GiveUp(
        QString::fromUtf8(kInstallFailedText).arg(*exitCode).arg(QString::fromUtf8(vextal::kPublisherUrl)));
  }
  std::error_code ignored;
  fs::remove(installer, ignored);
  if (!StartClient()) return UpdateResult::kNotInstalled;
  return UpdateResult::kInstalled;
}

UpdateResult UpdaterWindow::GiveUp(const QString& message) {
  if (!message.isEmpty()) ui::dialogs().ShowMessage(message);
  StartClient();
  return UpdateResult::kNotInstalled;
}

bool UpdaterWindow::StartClient() {
  // The client takes the folder's lock itself; held here it would find its folder taken.
  m_folderLock.Release();
  const fs::path client = platform::ProgramFileIn(m_settings.installFolder, kClientProgramName);
  if (m_launcher.Start({client, {}, false, m_settings.workingFolder})) return true;
  ui::dialogs().ShowMessage(QString::fromUtf8(kClientNotStartedText).arg(PathText(client)));
  return false;
}

bool UpdaterWindow::RealPause(int ms) {
  if (m_cancelled) return false;
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  m_pauseLoop = &loop;
  loop.exec();
  m_pauseLoop = nullptr;
  return !m_cancelled;
}

void UpdaterWindow::SetStatus(const QString& text) {
  m_status->setText(text);
  ShowTransferText(QString());
  m_bar->setValue(0);
}

void UpdaterWindow::OnTransferBegin(std::int64_t max) {
  if (!m_showsTransfer) return;
  (void)max;
  m_meter.Start(QDateTime::currentMSecsSinceEpoch(), m_progressOffset, m_total);
  ShowTransfer(m_progressOffset);
}

void UpdaterWindow::OnTransferProgress(std::int64_t count) {
  if (!m_showsTransfer) return;
  ShowTransfer(exchange::AddByteCounts(m_progressOffset, count));
}

void UpdaterWindow::ShowTransfer(std::int64_t received) {
  if (m_total > 0) m_bar->setValue(static_cast<int>(received * kBarSteps / m_total));
  if (const auto text = m_meter.Update(QDateTime::currentMSecsSinceEpoch(), received)) {
    ShowTransferText(QString::fromStdString(*text));
  }
}

void UpdaterWindow::ShowTransferText(const QString& text) {
  m_transferText->setText(text);
  // What a screen reader says of the bar, too.
  m_bar->setAccessibleDescription(text);
}

}  // namespace updater
