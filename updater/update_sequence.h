#pragma once

#include "net/http_client.h"
#include "platform/folder_lock.h"
#include "platform/held_file.h"
#include "platform/program_run.h"
#include "updater/update_description.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// The updater's road, toolkit-free: wait for the client to end, fetch and verify the signed description of the new
// version, download its installer (resumed and retried as a paper is), check it, run it silently into the install
// folder and start the new client in the same working folder. Whatever stops it on the way, the user is left with a
// program: the one in the install folder is started again. A thin window watches it (UpdaterWindow); tests watch it
// without one.
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

// What the sequence tells the one who watches it, and asks of it. Texts are UTF-8.
class SequenceWatcher {
 public:
  virtual ~SequenceWatcher() = default;
  // The step under way ("正在下载 3.2 版…"): the transfer shown before it ends.
  virtual void StepBegins(const std::string& status) = 0;
  // The installer's transfer: `received` bytes of `total` so far (the kept ones included).
  virtual void TransferBegins(std::int64_t received, std::int64_t total) = 0;
  virtual void TransferGoesOn(std::int64_t received) = 0;
  // Beside the bar, in place of the transfer: the next try and when it comes.
  virtual void Note(const std::string& text) = 0;
  // A message the user must read before the road goes on (a dialog in the window).
  virtual void Tell(const std::string& message) = 0;
  // Waits ms, serving the user meanwhile; false when the wait was cut short.
  virtual bool Pause(int ms) = 0;
  // Serves the user during a wait that polls (the installer's run).
  virtual void Serve() = 0;
  // The window a client started meanwhile brings forward (the folder's lock records it); 0: none.
  virtual platform::WindowHandle WindowToBringForward() = 0;
};

class UpdateSequence {
 public:
  UpdateSequence(UpdaterSettings settings, Launcher& launcher, SequenceWatcher& watcher);

  // The whole road; returns when the updater may end.
  UpdateResult Run();
  // "取消": the wait, the check, the download or the installer's run ends within a pump slice (the watcher ends its
  // own pause); nothing more is installed, and the program there is started.
  void Cancel();
  bool Cancelled() const { return m_cancelled; }

  net::HttpClient& Client() { return m_http; }

  // How long the client has to end, and how often the updater looks whether it has.
  static constexpr int kProgramEndWaitMs = 30'000;
  static constexpr int kLockLookEveryMs = 250;
  // How long another updater may hold the updates folder before this one gives way: as long as a staged copy needs
  // for the updater that started it to end.
  static constexpr int kUpdatesFolderWaitMs = 10'000;

 private:
  // Looks at the lock every kLockLookEveryMs until it is had or `limitMs` passed; also true where no lock can be had.
  bool WaitForLock(platform::FolderLock& lock, const std::filesystem::path& file, int limitMs);
  UpdateResult StageAndHandOver();
  std::optional<VerifiedUpdate> FetchDescription();
  // Installers and partial downloads of other versions than `update`'s go, and what can no longer be resumed.
  void ClearOtherVersions(const VerifiedUpdate& update);
  std::optional<std::filesystem::path> DownloadInstaller(const VerifiedUpdate& update);
  UpdateResult Install(const VerifiedUpdate& update, const std::filesystem::path& installer);
  // Tells the user why nothing (more) was installed, then starts the program in the install folder again.
  UpdateResult GiveUp(const std::string& message);
  bool StartClient();
  std::filesystem::path InstallerPath(const std::string& version) const;
  std::filesystem::path PartialFolder() const;

  UpdaterSettings m_settings;
  Launcher& m_launcher;
  SequenceWatcher& m_watcher;
  net::HttpClient m_http;
  platform::FolderLock m_folderLock;
  platform::FolderLock m_updatesLock;
  bool m_cancelled = false;
  // The installer's bytes kept from an earlier try or run, and its whole length; the transfer under way is the
  // installer's (not the description's).
  std::int64_t m_progressOffset = 0;
  std::int64_t m_total = -1;
  bool m_showsTransfer = false;
};

}  // namespace updater
