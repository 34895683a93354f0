#include "updater/update_sequence.h"

#include "download/answer_rules.h"
#include "download/failure_text.h"
#include "download/partial_file.h"
#include "download/resumable_fetch.h"
#include "download/transfer_meter.h"
#include "download/tries.h"
#include "net/background_wait.h"
#include "net/http_error.h"
#include "platform/user_folders.h"
#include "platform/utf.h"
#include "updater/file_digest.h"
#include "updater/staging.h"
#include "updater/verified_version.h"
#include "vextal_config.h"

#include <chrono>
#include <memory>
#include <system_error>
#include <utility>
#include <variant>

namespace updater {
namespace {

namespace fs = std::filesystem;

// The signature page is one line of 128 hex digits; a little room for blanks around it.
constexpr std::size_t kLargestSignatureBytes = 1024;
constexpr const char* kInstallerPrefix = "vextal-setup-";
constexpr const char* kInstallerSuffix = ".exe";
// One updater of the user at a time holds this file of the updates folder.
constexpr const char* kUpdatesLockFile = "updater.lock";
// Where the installer streams in before it is whole, inside the user's updates folder.
constexpr const char* kPartialFolderName = ".vextal";
// NSIS: silent, and the folder to install into, which must come last and unquoted.
constexpr const char16_t* kSilentSwitch = u"/S";
constexpr const char16_t* kInstallFolderSwitch = u"/D=";
// A copy of the updater's own files that takes longer than this is a file system in trouble.
constexpr int kStagingLimitMs = 5 * 60 * 1000;
constexpr int kMsPerMinute = 60 * 1000;

constexpr const char* kWaitingText = "正在等待题库程序退出…";
constexpr const char* kPreparingText = "正在准备更新…";
constexpr const char* kCheckingText = "正在检查新版本…";
constexpr const char* kDownloadingText = "正在下载 %1 版…";
constexpr const char* kInstallingText = "正在安装 %1 版…";

constexpr const char* kStillRunningText =
    "题库程序在 30 秒内没有退出，没有安装新版本。请关闭题库程序后，再选“更新软件”。";
constexpr const char* kAnotherUpdaterText = "另一个升级程序正在运行，这一个没有做任何事。";
constexpr const char* kNoUpdatesFolderText = "无法建立存放更新的文件夹 %1，没有安装任何东西。";
constexpr const char* kStagingFailedText = "无法复制升级程序以便安装，没有安装任何东西。";
constexpr const char* kStagedStartFailedText = "升级程序的副本没有启动，没有安装任何东西。";
constexpr const char* kNoDescriptionText = "无法取得新版本的说明：%1\n没有安装任何东西。";
constexpr const char* kDownloadFailedText = "新版本没有下载完成：%1\n没有安装任何东西；下次更新时接着下载。";
constexpr const char* kDownloadNotKeptText = "新版本没有下载完成：%1\n没有安装任何东西。";
constexpr const char* kTooLargeText = "安装程序太大：服务器发来的安装程序比新版本的说明大，没有安装任何东西。";
constexpr const char* kServerCannotResumeText = "服务器无法接着发送安装程序";
constexpr const char* kCannotWriteText = "安装程序无法写入存放更新的文件夹";
constexpr const char* kWrongSizeText = "服务器发来的安装程序与新版本的说明大小不符，没有安装任何东西。";
constexpr const char* kWrongInstallerText = "下载的安装程序与新版本的说明不符，已删除，没有安装任何东西。";
constexpr const char* kInstallerNotStartedText = "安装没有完成：安装程序没有启动。原来的程序照旧可用。";
constexpr const char* kInstallFailedText =
    "安装没有完成（安装程序的结束代码为 %1）。请再选“更新软件”，或到 %2 下载新版本手动安装。";
constexpr const char* kInstallerTimedOutText =
    "安装程序在 %1 分钟内没有结束，已停止它。程序文件夹 %2 可能只更新了一部分：如果题库程序不能正常使用，请到 %3 "
    "下载新版本重新安装。";
constexpr const char* kInstallerStoppedText =
    "安装已取消，安装程序已停止。程序文件夹 %1 可能只更新了一部分：如果题库程序不能正常使用，请到 %2 下载新版本重新安装。";
constexpr const char* kClientNotStartedText = "题库程序 %1 没有启动，请手动启动它。";

// The text with %1, %2, ... replaced by the arguments in turn, each once.
std::string PathText(const fs::path& path) { return platform::Utf8FromUtf16(path.u16string()); }

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t UtcSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Why the installer did not arrive, in the user's words, and whether the next run goes on from what arrived.
std::string DownloadFailureText(const download::TryResult& result) {
  std::string reason;
  switch (result.failure) {
    case download::Failure::kWrongSize: return kWrongSizeText;
    case download::Failure::kTooLarge: return kTooLargeText;
    case download::Failure::kNetwork:
      reason = download::NetworkCauseText(*result.network);
      break;
    case download::Failure::kIntercepted:
      reason = platform::Utf8FromUtf16(download::kInterceptedText);
      break;
    case download::Failure::kNoBody:
    case download::Failure::kStartAgain:
      reason = kServerCannotResumeText;
      break;
    default:
      reason = kCannotWriteText;
      break;
  }
  return download::Filled(result.keptAfter > 0 ? kDownloadFailedText : kDownloadNotKeptText, {reason});
}

}  // namespace

bool SystemLauncher::Start(const platform::Launch& launch) { return platform::StartProgram(launch); }

platform::RunOutcome SystemLauncher::RunInstaller(const platform::HeldFile& program, const platform::Launch& launch,
                                                  const platform::RunLimits& limits) {
  return platform::RunWithin(program, launch, limits);
}

UpdateSequence::UpdateSequence(UpdaterSettings settings, Launcher& launcher, SequenceWatcher& watcher)
    : m_settings(std::move(settings)), m_launcher(launcher), m_watcher(watcher) {
  m_http.ReadTimeout = download::kSilentLinkLimitMs;
  m_http.OnWorkBegin = [this](net::HttpClient&, net::WorkMode, std::int64_t) {
    if (m_showsTransfer) m_watcher.TransferBegins(m_progressOffset, m_total);
  };
  m_http.OnWork = [this](net::HttpClient&, net::WorkMode, std::int64_t count) {
    if (m_showsTransfer) m_watcher.TransferGoesOn(download::AddByteCounts(m_progressOffset, count));
  };
}

void UpdateSequence::Cancel() {
  m_cancelled = true;
  m_http.Cancel();
}

UpdateResult UpdateSequence::Run() {
  m_cancelled = false;
  if (m_settings.updatesFolder.empty() || !platform::MakePrivateFolder(m_settings.updatesFolder)) {
    return GiveUp(download::Filled(kNoUpdatesFolderText, {PathText(m_settings.updatesFolder)}));
  }
  if (!WaitForLock(m_updatesLock, m_settings.updatesFolder / kUpdatesLockFile, kUpdatesFolderWaitMs)) {
    if (m_cancelled) return GiveUp({});
    m_watcher.Tell(kAnotherUpdaterText);
    return UpdateResult::kAnotherUpdater;
  }
  m_watcher.StepBegins(kWaitingText);
  if (!WaitForLock(m_folderLock, m_settings.workingFolder / platform::kWorkingFolderLockFile, kProgramEndWaitMs)) {
    if (m_cancelled) return GiveUp({});
    m_watcher.Tell(kStillRunningText);
    return UpdateResult::kStillRunning;
  }
  // A client started meanwhile brings this window forward instead of opening the folder under the installer.
  if (m_folderLock.Held()) m_folderLock.RecordWindow(m_watcher.WindowToBringForward());
  // Only with the folder held: a staged copy at work holds it, and its folder is not stale.
  RemoveStaleStaging(m_settings.updatesFolder, m_settings.ownProgram.parent_path());
  if (m_settings.stageFirst) return StageAndHandOver();
  const std::optional<VerifiedUpdate> update = FetchDescription();
  if (!update) return UpdateResult::kNotInstalled;
  const std::optional<fs::path> installer = DownloadInstaller(*update);
  if (!installer) return UpdateResult::kNotInstalled;
  return Install(*update, *installer);
}

bool UpdateSequence::WaitForLock(platform::FolderLock& lock, const fs::path& file, int limitMs) {
  for (int waited = 0;; waited += kLockLookEveryMs) {
    switch (lock.Acquire(file)) {
      case platform::FolderLock::Outcome::kHeld:
      // Where no lock can be had the others run without one too; nothing better can be known of them.
      case platform::FolderLock::Outcome::kUnavailable:
        return true;
      case platform::FolderLock::Outcome::kHeldElsewhere:
        break;
    }
    if (waited >= limitMs || !m_watcher.Pause(kLockLookEveryMs) || m_cancelled) return false;
  }
}

UpdateResult UpdateSequence::StageAndHandOver() {
  m_watcher.StepBegins(kPreparingText);
  // Off the UI thread, the window answering: a large program folder on a slow disk takes its time. The copy owns
  // everything it touches, since a copy stuck in the file system outlives a cancel.
  auto copy = std::make_shared<std::optional<fs::path>>();
  const bool finished = net::WaitOnBackgroundThread(
      [copy, install = m_settings.installFolder, own = m_settings.ownProgram, updates = m_settings.updatesFolder] {
        *copy = StageProgramFiles(install, own, updates);
      },
      kStagingLimitMs, [this] { return m_cancelled; });
  if (!finished) return GiveUp(m_cancelled ? std::string() : kStagingFailedText);
  if (!*copy) return GiveUp(kStagingFailedText);
  // The copy waits for the folder's lock in its turn, which this process lets go of only by ending.
  platform::Launch launch{**copy, StagedArguments(m_settings.installFolder), false, m_settings.workingFolder};
  if (!m_launcher.Start(launch)) return GiveUp(kStagedStartFailedText);
  return UpdateResult::kHandedOver;
}

std::optional<VerifiedUpdate> UpdateSequence::FetchDescription() {
  m_watcher.StepBegins(kCheckingText);
  std::string description;
  std::string signature;
  try {
    description = m_http.GetText(m_settings.versionServer + kDescriptionPage, kLargestDescriptionBytes);
    signature = m_http.GetText(m_settings.versionServer + kSignaturePage, kLargestSignatureBytes);
  } catch (const net::HttpClientError& error) {
    GiveUp(m_cancelled ? std::string() : download::Filled(kNoDescriptionText, {download::NetworkCauseText(error)}));
    return std::nullopt;
  }
  const fs::path verifiedFile = m_settings.updatesFolder / kVerifiedVersionFile;
  const std::string highestVerified = ReadHighestVerified(verifiedFile);
  const auto verified = VerifyUpdate({description, signature, m_settings.publicKeyHex, m_settings.runningVersion,
                                      m_settings.versionServer, UtcSeconds(), highestVerified});
  if (const Refusal* refusal = std::get_if<Refusal>(&verified)) {
    GiveUp(RefusalText(*refusal));
    return std::nullopt;
  }
  // Not being able to remember it costs only the guard against a later rollback, not this update.
  RememberVerified(verifiedFile, std::get<VerifiedUpdate>(verified).description.version);
  return std::get<VerifiedUpdate>(verified);
}

void UpdateSequence::ClearOtherVersions(const VerifiedUpdate& update) {
  const fs::path installer = InstallerPath(update.description.version);
  std::error_code error;
  // Compared in the system's own form of the names (UTF-16 on Windows): a neighbour's name that the narrow code page
  // cannot write must not stop the clean-up.
  const fs::path::string_type prefix = fs::path(kInstallerPrefix).native();
  const fs::path::string_type suffix = fs::path(kInstallerSuffix).native();
  for (const fs::directory_entry& entry : fs::directory_iterator(m_settings.updatesFolder, error)) {
    const fs::path::string_type name = entry.path().filename().native();
    std::error_code ignored;
    if (name.starts_with(prefix) && name.ends_with(suffix) && entry.path() != installer &&
        entry.is_regular_file(ignored) && !entry.is_symlink(ignored)) {
      fs::remove(entry.path(), ignored);
    }
  }
  download::RemoveStalePartials(PartialFolder(), fs::file_time_type::clock::now(),
                                [&update](const download::ResumeRecord& record) {
                                  return record.url == update.installerUrl;
                                });
}

std::optional<fs::path> UpdateSequence::DownloadInstaller(const VerifiedUpdate& update) {
  const UpdateDescription& facts = update.description;
  m_watcher.StepBegins(download::Filled(kDownloadingText, {facts.version}));
  const fs::path target = InstallerPath(facts.version);
  ClearOtherVersions(update);
  // An earlier run fetched it whole and then did not install it: the same bytes need not come again.
  if (FileHasSha256(target, facts.sha256, facts.size)) return target;

  download::FetchTarget fetch;
  fetch.url = update.installerUrl;
  fetch.file = target;
  fetch.partialFolder = PartialFolder();
  fetch.localName = target.filename().string();
  fetch.exactSize = static_cast<std::int64_t>(facts.size);
  download::Tries tries;
  tries.attempt = [this, &fetch] {
    m_progressOffset = 0;
    m_showsTransfer = false;
    download::FetchHooks hooks;
    hooks.onBegin = [this, &fetch](std::int64_t kept, std::int64_t) {
      m_progressOffset = kept;
      m_total = fetch.exactSize;
      m_showsTransfer = true;
    };
    hooks.nowMs = SteadyMs;
    return download::FetchOnce(m_http, fetch, hooks);
  };
  tries.stopped = [this] { return m_cancelled; };
  tries.pause = [this](int ms) { return m_watcher.Pause(ms); };
  tries.beforePause = [this](int nextTry, int pauseMs) { m_watcher.Note(download::RetryText(nextTry, pauseMs)); };
  tries.nowMs = SteadyMs;
  tries.nowSeconds = UtcSeconds;
  const download::TryResult result = tries.Run();
  m_showsTransfer = false;
  if (result.Done()) return target;
  if (m_cancelled || result.failure == download::Failure::kStopped) {
    // What arrived stays for the next run, which asks for the rest.
    GiveUp({});
    return std::nullopt;
  }
  GiveUp(DownloadFailureText(result));
  return std::nullopt;
}

UpdateResult UpdateSequence::Install(const VerifiedUpdate& update, const fs::path& installer) {
  m_watcher.StepBegins(download::Filled(kInstallingText, {update.description.version}));
  if (m_cancelled) return GiveUp({});
  // Held from the check until it has started: nothing can change the bytes in between (where the system can deny it).
  platform::HeldFile held;
  // Checked once more right before it runs: the file lay on disk since it arrived.
  if (!held.Open(installer) || !FileHasSha256(held, update.description.sha256, update.description.size)) {
    held.Close();
    std::error_code ignored;
    fs::remove(installer, ignored);
    return GiveUp(kWrongInstallerText);
  }
  platform::MakeRunnable(installer);
  const fs::path folder = m_settings.installFolder.lexically_normal().make_preferred();
  platform::Launch launch{installer, {kSilentSwitch, kInstallFolderSwitch + folder.u16string()}, true,
                          m_settings.updatesFolder};
  platform::RunLimits limits;
  limits.limit = std::chrono::milliseconds(m_settings.installerLimitMs);
  limits.whileWaiting = [this] { m_watcher.Serve(); };
  limits.stopRequested = [this] { return m_cancelled; };
  const platform::RunOutcome outcome = m_launcher.RunInstaller(held, launch, limits);
  held.Close();
  const std::string folderText = PathText(folder);
  switch (outcome.end) {
    case platform::RunOutcome::End::kNotStarted:
      return GiveUp(kInstallerNotStartedText);
    case platform::RunOutcome::End::kTimedOut:
      return GiveUp(download::Filled(kInstallerTimedOutText, {std::to_string(m_settings.installerLimitMs / kMsPerMinute),
                                                    folderText, vextal::kPublisherUrl}));
    case platform::RunOutcome::End::kStopped:
      return GiveUp(download::Filled(kInstallerStoppedText, {folderText, vextal::kPublisherUrl}));
    case platform::RunOutcome::End::kExited:
      break;
  }
  if (outcome.exitCode != 0) {
    return GiveUp(download::Filled(kInstallFailedText, {std::to_string(outcome.exitCode), vextal::kPublisherUrl}));
  }
  std::error_code ignored;
  fs::remove(installer, ignored);
  if (!StartClient()) return UpdateResult::kNotInstalled;
  return UpdateResult::kInstalled;
}

UpdateResult UpdateSequence::GiveUp(const std::string& message) {
  if (!message.empty()) m_watcher.Tell(message);
  StartClient();
  return UpdateResult::kNotInstalled;
}

bool UpdateSequence::StartClient() {
  // The client takes the folder's lock itself; held here it would find its folder taken.
  m_folderLock.Release();
  const fs::path client = platform::ProgramFileIn(m_settings.installFolder, kClientProgramName);
  if (m_launcher.Start({client, {}, false, m_settings.workingFolder})) return true;
  m_watcher.Tell(download::Filled(kClientNotStartedText, {PathText(client)}));
  return false;
}

fs::path UpdateSequence::InstallerPath(const std::string& version) const {
  // The version is dotted digits only (VerifyUpdate), so it can name a file.
  return m_settings.updatesFolder / (kInstallerPrefix + version + kInstallerSuffix);
}

fs::path UpdateSequence::PartialFolder() const { return m_settings.updatesFolder / kPartialFolderName; }

}  // namespace updater
