#pragma once

#include "net/http_client.h"
#include "net/pump_policy.h"
#include "platform/folder_lock.h"
#include "platform/held_file.h"
#include "platform/program_run.h"
#include "ui/retry_pause.h"
#include "ui/transfer_text.h"
#include "updater/update_description.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QCloseEvent;
class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;

namespace updater {

// How long an installer of this program may take: a silent install copies some 50 MB, a minute on a slow disk.
inline constexpr int kInstallerLimitMs = 10 * 60 * 1000;

// Where the updater works, and what it believes. main() fills it from the build and the platform; tests point it at
// loopback servers and folders of their own.
struct UpdaterSettings {
  std::string versionServer;   // "http://host[:port]"
  std::string publicKeyHex;    // the publisher's key, 64 hex digits
  std::string runningVersion;  // the version installed now
  std::filesystem::path installFolder;  // the program's folder: the installer installs there, the client starts there
  std::filesystem::path workingFolder;  // the user's: data/ and DownLoad/; every program is started in it
  std::filesystem::path updatesFolder;  // the user's own: the installer, the partial download, the staged copies
  std::filesystem::path ownProgram;     // this updater's file
  // Copy the program's files away and let the copy do the work (files in use cannot be replaced).
  bool stageFirst = false;
  // How long the installer may run before it is stopped (a stalled installer must not leave the user without a
  // program); tests shorten it.
  int installerLimitMs = kInstallerLimitMs;
};

// How the updater starts other programs; tests record the starts that would be wrong to make for real.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts a program without waiting; false when it could not be started.
  virtual bool Start(const platform::Launch& launch) = 0;
  // Runs the held program (the installer, held since its check) within the limits: to its end, or stopped when the
  // limit passes or the user asks; launch.program is not read.
  virtual platform::RunOutcome RunInstaller(const platform::HeldFile& program, const platform::Launch& launch,
                                            const platform::RunLimits& limits) = 0;
};

// The platform's own starts.
class SystemLauncher : public Launcher {
 public:
  bool Start(const platform::Launch& launch) override;
  platform::RunOutcome RunInstaller(const platform::HeldFile& program, const platform::Launch& launch,
                                    const platform::RunLimits& limits) override;
};

// What the updater did, as its exit code says.
enum class UpdateResult {
  kInstalled = 0,    // the new version is installed and started
  kNotInstalled = 1, // nothing (or, after a failed installer, not all) was installed; the old program was started
  kHandedOver = 2,   // a staged copy goes on with the work
  kStillRunning = 3, // the client did not end in time: nothing was done, nothing started
  kAnotherUpdater = 4, // another updater of this user was at work: nothing was done, nothing started
};

// The updater ("更新程序"): waits for the client to end, fetches and verifies the signed description of the new
// version, downloads its installer (resumed and retried as a paper is), checks it, runs it silently into the install
// folder and starts the new client in the same working folder. Whatever stops it on the way, the user is left with a
// program: the old one is started again.
class UpdaterWindow : public QWidget {
  Q_OBJECT

 public:
  UpdaterWindow(UpdaterSettings settings, Launcher& launcher);
  ~UpdaterWindow() override;

  // The whole road; returns when the updater may end.
  UpdateResult Run();

  // Waits `ms` before the next look at the lock or the next try of the download; false when the wait was cut short.
  // Tests replace it to record the pauses instead of sleeping them, or to act inside them.
  using Pause = std::function<bool(int ms)>;
  void SetPause(Pause pause) { m_pause = std::move(pause); }

  // "取消": the wait, the check or the download ends within a pump slice; nothing is installed. While the installer
  // runs it is stopped, and the user is told the program folder may be partly updated.
  void Cancel();

  QString StatusText() const;
  QString TransferText() const;
  net::HttpClient& Client() { return m_http; }

  // How long the client has to end, and how often the updater looks whether it has.
  static constexpr int kProgramEndWaitMs = 30'000;
  static constexpr int kLockLookEveryMs = 250;
  // How long another updater may hold the updates folder before this one gives way.
  static constexpr int kUpdatesFolderWaitMs = 10'000;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  enum class Step { kGoOn, kStop };

  bool WaitForTheProgramToEnd();
  // One updater of the user at a time: the updates folder's lock, waited for as briefly as a staged copy needs for
  // the updater that started it to end.
  bool TakeTheUpdatesFolder();
  // Installers and partial downloads of other versions than `update`'s go, and what can no longer be resumed.
  void ClearOtherVersions(const VerifiedUpdate& update);
  UpdateResult StageAndHandOver();
  std::optional<VerifiedUpdate> FetchDescription();
  std::optional<std::filesystem::path> DownloadInstaller(const VerifiedUpdate& update);
  std::filesystem::path InstallerPath(const std::string& version) const;
  // The user's folder where the installer streams in before it is whole.
  std::filesystem::path PartialFolder() const;
  UpdateResult Install(const VerifiedUpdate& update, const std::filesystem::path& installer);
  // Tells the user why nothing (more) was installed, then starts the old program again.
  UpdateResult GiveUp(const QString& message);
  bool StartClient();
  bool RealPause(int ms);

  void SetStatus(const QString& text);
  void OnTransferBegin(std::int64_t max);
  void OnTransferProgress(std::int64_t count);
  void ShowBar(std::int64_t received);

  UpdaterSettings m_settings;
  Launcher& m_launcher;
  QLabel* const m_status;
  QProgressBar* const m_bar;
  QLabel* const m_transferLabel;
  QPushButton* const m_cancelButton;
  net::PumpPolicy m_pump;
  net::HttpClient m_http;
  platform::FolderLock m_folderLock;
  platform::FolderLock m_updatesLock;
  ui::TransferText m_transferText;
  Pause m_pause;
  ui::RetryPause m_retryPause;
  bool m_cancelled = false;
  bool m_running = false;
  // The installer's bytes kept from an earlier try or run, and its whole length; the transfer under way is the
  // installer's (not the description's).
  std::int64_t m_progressOffset = 0;
  std::int64_t m_total = -1;
  bool m_showsTransfer = false;
};

}  // namespace updater
