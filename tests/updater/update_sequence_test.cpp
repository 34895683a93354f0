#include "updater/update_sequence.h"

#include "platform/environment.h"
#include "platform/folder_lock.h"
#include "platform/held_file.h"
#include "platform/program_run.h"
#include "tests/support/folder_holder.h"
#include "tests/support/loopback_server.h"
#include "tests/support/child_process.h"
#include "tests/updater/demo_key.h"
#include "updater/staging.h"
#include "updater/update_description.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace updater {
namespace {

namespace fs = std::filesystem;
using testsupport::Action;

constexpr const char* kInstallerPath = "/updates/vextal-setup-3.2.exe";
constexpr const char* kETag = "\"setup-3.2\"";
constexpr const char* kOldClient = "old vextal";
constexpr const char* kOldCatalogue = "the user's catalogue";
constexpr const char* kExitCodeVariable = "VEXTAL_STAND_IN_EXIT";
constexpr const char* kClientNameVariable = "VEXTAL_STAND_IN_CLIENT";

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return HexOf(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

// Records the starts a test must not make for real (the client, a staged copy) and runs the installer for real.
class RecordingLauncher : public Launcher {
 public:
  bool Start(const platform::Launch& launch) override {
    started.push_back(launch);
    return true;
  }
  platform::RunOutcome RunInstaller(const platform::HeldFile& program, const platform::Launch& launch,
                                    const platform::RunLimits& limits) override {
    ran.push_back(launch);
    return platform::RunWithin(program, launch, limits);
  }

  std::vector<platform::Launch> started;
  std::vector<platform::Launch> ran;
};

// Watches the sequence as the window would, recording what it shows and says; its pauses are recorded, not slept.
class RecordingWatcher : public SequenceWatcher {
 public:
  void StepBegins(const std::string& status) override { statuses.push_back(status); }
  void TransferBegins(std::int64_t received, std::int64_t) override { transfers.push_back(received); }
  void TransferGoesOn(std::int64_t received) override {
    if (onTransfer) onTransfer(received);
  }
  void Note(const std::string& text) override { notes.push_back(text); }
  void Tell(const std::string& message) override { messages.push_back(message); }
  bool Pause(int ms) override {
    pauses.push_back(ms);
    return onPause ? onPause(ms) : true;
  }
  void Serve() override {
    if (whileInstalling) whileInstalling();
  }
  platform::WindowHandle WindowToBringForward() override { return nullptr; }

  std::vector<std::string> statuses;
  std::vector<std::int64_t> transfers;
  std::vector<std::string> notes;
  std::vector<std::string> messages;
  std::vector<int> pauses;
  std::function<bool(int)> onPause;
  std::function<void(std::int64_t)> onTransfer;
  // Called while the installer runs, as the user's clicks would come.
  std::function<void()> whileInstalling;
};

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += text + "|";
  return joined;
}

void SetVariable(const char* name, const std::string& value) { platform::SetEnvironmentVariable(name, value); }
void ClearVariable(const char* name) { platform::SetEnvironmentVariable(name, std::nullopt); }

// What the version server does wrong, if anything.
enum class Server {
  kGood,
  kOtherKey,           // the description signed with another key
  kNotNewer,           // it names the running version
  kInstallerElsewhere, // the installer on another host
  kNoDescription,      // the description page answers 404
  kLongerInstaller,    // the installer served is longer than described
  kShorterInstaller,   // the installer served is shorter than described
  kChangedByte,        // one byte of the installer differs from what the description hashes
};

// A working folder with the user's data, an install folder with the old client and this updater, the user's own
// updates folder, and a version server offering 3.2 whose installer is the stand-in.
class UpdaterRoad {
 public:
  explicit UpdaterRoad(Server mode) : m_installer(ReadFile(STAND_IN_INSTALLER_PATH)) {
    WriteFile(Working() / "data" / "data.mdb", kOldCatalogue);
    WriteFile(Working() / "DownLoad" / "paper.doc", "a paper");
    WriteFile(platform::ProgramFileIn(Install(), "vextal"), kOldClient);
    SetVariable(kClientNameVariable, platform::ProgramFileIn({}, "vextal").filename().string());
    WriteFile(Install() / "Upgrading.exe", "this updater");
    std::string served = m_installer;
    if (mode == Server::kLongerInstaller) served += "tail";
    if (mode == Server::kShorterInstaller) served.pop_back();
    if (mode == Server::kChangedByte) served[served.size() / 2] ^= 1;
    UpdateDescription facts{mode == Server::kNotNewer ? "3.1" : "3.2",
                            mode == Server::kInstallerElsewhere ? "//elsewhere.example/setup.exe" : kInstallerPath,
                            m_installer.size(), Sha256Hex(m_installer), kLatestUtcSeconds};
    const std::string description = DescriptionText(facts);
    std::string secret = testsupport::DemoSecretKey();
    if (mode == Server::kOtherKey) secret[0] ^= 1;
    const std::string signature = testsupport::Signed(description, secret.data());
    server.SetHandler([=, this](const std::string& request) -> testsupport::Answer {
      if (request.rfind(std::string("GET ") + kDescriptionPage + " ", 0) == 0) {
        if (mode == Server::kNoDescription) return {Action::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")};
        return {Action::Send(testsupport::OkResponse(description))};
      }
      if (request.rfind(std::string("GET ") + kSignaturePage + " ", 0) == 0) {
        return {Action::Send(testsupport::OkResponse(signature))};
      }
      if (request.rfind(std::string("GET ") + kInstallerPath + " ", 0) == 0) return InstallerAnswer(request, served);
      return {Action::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")};
    });
    settings.versionServer = server.Url("");
    settings.publicKeyHex = testsupport::DemoPublicKeyHex();
    settings.runningVersion = "3.1";
    settings.installFolder = Install();
    settings.workingFolder = Working();
    settings.updatesFolder = Updates();
    settings.ownProgram = Install() / "Upgrading.exe";
  }

  fs::path Working() const { return fs::path(m_root.LocalPath("work")); }
  fs::path Install() const { return fs::path(m_root.LocalPath("install")); }
  fs::path Updates() const { return fs::path(m_root.LocalPath("updates")); }

  UpdateResult Run(const std::function<void(UpdateSequence&)>& prepare = {}) {
    UpdateSequence sequence(settings, launcher, watcher);
    if (prepare) prepare(sequence);
    return sequence.Run();
  }

  // The installer's first answer breaks off halfway when breakFirst is set; a request for the rest gets a 206.
  testsupport::Answer InstallerAnswer(const std::string& request, const std::string& served) {
    ++installerRequests;
    const std::string rangeHeader = "Range: bytes=";
    const std::size_t range = request.find(rangeHeader);
    if (range == std::string::npos) {
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(served.size()) +
                               "\r\nETag: " + kETag + "\r\n\r\n";
      if (breakFirst && installerRequests == 1) {
        return {Action::Send(head + served.substr(0, served.size() / 2)), Action::Close()};
      }
      if (holdAfterHalf) return {Action::Send(head + served.substr(0, served.size() / 2)), Action::Hold()};
      return {Action::Send(head + served)};
    }
    const std::size_t from = std::stoul(request.substr(range + rangeHeader.size()));
    const std::string rest = served.substr(from);
    return {Action::Send("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(rest.size()) +
                         "\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                         std::to_string(served.size() - 1) + "/" + std::to_string(served.size()) + "\r\nETag: " +
                         kETag + "\r\n\r\n" + rest)};
  }

  testsupport::LoopbackServer server;
  UpdaterSettings settings;
  RecordingLauncher launcher;
  RecordingWatcher watcher;
  std::atomic<int> installerRequests{0};
  bool breakFirst = false;
  bool holdAfterHalf = false;

 private:
  testsupport::ScratchDirectory m_root;
  std::string m_installer;
};

// Whatever stopped the update, the user is told (when there is anything to tell), the old program's files and the
// user's data are as they were, and the old program is started again in the same working folder.
TEST(UpdaterRoad, EveryRefusalLeavesTheOldProgramAndStartsItAgain) {
  struct Case {
    const char* label;
    Server server;
    const char* publicKey;  // nullptr: the demo key
    int installerExit;
    bool cancelInDownload;
    std::string message;  // the start of the one message shown; empty: none
    bool installerRuns;
  };
  const std::string kTooLarge = "安装程序太大";
  const Case cases[] = {
      {"signed with another key", Server::kOtherKey, nullptr, 0, false,
       (RefusalText(Refusal::kBadSignature)), false},
      {"not newer", Server::kNotNewer, nullptr, 0, false, (RefusalText(Refusal::kNotNewer)),
       false},
      {"installer on another host", Server::kInstallerElsewhere, nullptr, 0, false,
       (RefusalText(Refusal::kInstallerElsewhere)), false},
      {"a build without a key", Server::kGood, "", 0, false,
       (RefusalText(Refusal::kNoPublisherKey)), false},
      {"no description", Server::kNoDescription, nullptr, 0, false, "无法取得新版本的说明", false},
      {"installer longer than described", Server::kLongerInstaller, nullptr, 0, false, kTooLarge, false},
      {"installer shorter than described", Server::kShorterInstaller, nullptr, 0, false,
       "服务器发来的安装程序与新版本的说明大小不符", false},
      {"a changed byte in the installer", Server::kChangedByte, nullptr, 0, false,
       "下载的安装程序与新版本的说明不符", false},
      {"cancelled during the download", Server::kGood, nullptr, 0, true, "", false},
      {"the installer fails", Server::kGood, nullptr, 3, false, "安装没有完成（安装程序的结束代码为 3）",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    UpdaterRoad road(c.server);
    if (c.publicKey) road.settings.publicKeyHex = c.publicKey;
    road.holdAfterHalf = c.cancelInDownload;
    SetVariable(kExitCodeVariable, std::to_string(c.installerExit));
    const UpdateResult result = road.Run([&](UpdateSequence& sequence) {
      if (!c.cancelInDownload) return;
      auto progress = sequence.Client().OnWork;
      sequence.Client().OnWork = [&sequence, progress](net::HttpClient& client, net::WorkMode mode, std::int64_t count) {
        progress(client, mode, count);
        if (count > 0) sequence.Cancel();
      };
    });
    ClearVariable(kExitCodeVariable);

    EXPECT_EQ(result, UpdateResult::kNotInstalled);
    if (c.message.empty()) {
      EXPECT_TRUE(road.watcher.messages.empty()) << road.watcher.messages.size() << Joined(road.watcher.messages);
    } else {
      ASSERT_EQ(road.watcher.messages.size(), 1U);
      EXPECT_TRUE(StartsWith(road.watcher.messages[0], c.message)) << road.watcher.messages[0];
    }
    EXPECT_EQ(road.launcher.ran.size(), c.installerRuns ? 1U : 0U);
    EXPECT_EQ(ReadFile(platform::ProgramFileIn(road.Install(), "vextal")), kOldClient);
    EXPECT_EQ(ReadFile(road.Working() / "data" / "data.mdb"), kOldCatalogue);
    ASSERT_EQ(road.launcher.started.size(), 1U);
    EXPECT_EQ(road.launcher.started[0].program, platform::ProgramFileIn(road.Install(), "vextal"));
    EXPECT_EQ(road.launcher.started[0].workingFolder, road.Working());
    // The client it starts must find its folder free.
    platform::FolderLock lock;
    EXPECT_EQ(lock.Acquire(road.Working() / platform::kWorkingFolderLockFile), platform::FolderLock::Outcome::kHeld);
    // A cancelled download keeps what arrived for the next run, a failed installer stays for it whole; no refusal
    // leaves a file the next run would take for the installer.
    bool partialKept = false;
    bool installerKept = false;
    for (const auto& entry : fs::recursive_directory_iterator(road.Updates())) {
      partialKept = partialKept || entry.path().extension() == ".part";
      installerKept = installerKept || entry.path().extension() == ".exe";
    }
    EXPECT_EQ(partialKept, c.cancelInDownload);
    EXPECT_EQ(installerKept, c.installerRuns);
  }
}

TEST(UpdaterRoad, WaitsForTheProgramThenInstallsAResumedDownloadAndStartsTheNewProgram) {
  UpdaterRoad road(Server::kGood);
  road.breakFirst = true;
  auto holder = std::make_unique<testsupport::FolderHolder>(road.Working() / platform::kWorkingFolderLockFile);
  ASSERT_TRUE(holder->Holds());
  // The client ends while the updater waits its first pause for it.
  road.watcher.onPause = [&](int) {
    holder.reset();
    return true;
  };

  // What earlier runs left of other versions: an installer never run, a partial download of another address.
  WriteFile(road.Updates() / "vextal-setup-3.0.exe", "an older installer");
  const fs::path otherPartial = road.Updates() / ".vextal" / "00000000000000a1.part";
  WriteFile(otherPartial, "part of 3.0");
  WriteFile(road.Updates() / ".vextal" / "00000000000000a1.resume",
            road.server.Url("/updates/vextal-setup-3.0.exe") + "\n\"setup-3.0\"\n100\n");

  EXPECT_EQ(road.Run(), UpdateResult::kInstalled);

  EXPECT_FALSE(fs::exists(road.Updates() / "vextal-setup-3.0.exe"));
  EXPECT_FALSE(fs::exists(otherPartial));
  EXPECT_TRUE(road.watcher.messages.empty()) << road.watcher.messages.size() << Joined(road.watcher.messages);
  ASSERT_GE(road.watcher.pauses.size(), 2U);
  EXPECT_EQ(road.watcher.pauses[0], UpdateSequence::kLockLookEveryMs);
  // The broken transfer was tried again after a pause, asking for the rest only.
  EXPECT_EQ(road.installerRequests.load(), 2);
  const std::vector<std::string> requests = road.server.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_NE(requests.back().find("Range: bytes="), std::string::npos);
  EXPECT_NE(requests.back().find(std::string("If-Range: ") + kETag), std::string::npos);
  // Silently, into the install folder, "/D=" last.
  ASSERT_EQ(road.launcher.ran.size(), 1U);
  // The folder as the system writes it (backslashes on Windows), which NSIS takes as it stands.
  const fs::path written = road.Install().lexically_normal().make_preferred();
  EXPECT_EQ(ReadFile(road.Install() / "installer-arguments.txt"), "/S\n/D=" + written.string() + "\n");
  EXPECT_EQ(ReadFile(platform::ProgramFileIn(road.Install(), "vextal")), "new vextal");
  // The new program in the same working folder, with the user's data as it was.
  ASSERT_EQ(road.launcher.started.size(), 1U);
  EXPECT_EQ(road.launcher.started[0].program, platform::ProgramFileIn(road.Install(), "vextal"));
  EXPECT_TRUE(road.launcher.started[0].arguments.empty());
  EXPECT_EQ(road.launcher.started[0].workingFolder, road.Working());
  EXPECT_EQ(ReadFile(road.Working() / "data" / "data.mdb"), kOldCatalogue);
  EXPECT_EQ(ReadFile(road.Working() / "DownLoad" / "paper.doc"), "a paper");
  // Nothing of the update stays behind, and nothing of it ever went into the user's download folder.
  EXPECT_FALSE(fs::exists(road.Updates() / "vextal-setup-3.2.exe"));
  EXPECT_FALSE(fs::exists(road.Working() / "DownLoad" / ".vextal"));
  platform::FolderLock lock;
  EXPECT_EQ(lock.Acquire(road.Working() / platform::kWorkingFolderLockFile), platform::FolderLock::Outcome::kHeld);
}

// What the updater waits for and gives way to: the client still running in its working folder, or another updater of
// the same user at work in the updates folder. Either way nothing is fetched, run or started.
TEST(UpdaterRoad, ARunningProgramOrAnotherUpdaterIsLeftAloneAndNothingIsInstalled) {
  struct Case {
    const char* label;
    fs::path held;  // relative to the root of the road's folders
    UpdateResult expected;
    int waitedMs;
    const char* message;
  };
  const Case cases[] = {
      {"a program that never ends", fs::path("work") / platform::kWorkingFolderLockFile, UpdateResult::kStillRunning,
       UpdateSequence::kProgramEndWaitMs, "题库程序在 30 秒内没有退出"},
      {"another updater of the user", fs::path("updates") / "updater.lock", UpdateResult::kAnotherUpdater,
       UpdateSequence::kUpdatesFolderWaitMs, "另一个升级程序正在运行"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    UpdaterRoad road(Server::kGood);
    testsupport::FolderHolder holder(road.Working().parent_path() / c.held);
    ASSERT_TRUE(holder.Holds());

    EXPECT_EQ(road.Run(), c.expected);

    int waitedMs = 0;
    for (const int ms : road.watcher.pauses) waitedMs += ms;
    EXPECT_EQ(waitedMs, c.waitedMs);
    ASSERT_EQ(road.watcher.messages.size(), 1U);
    EXPECT_TRUE(StartsWith(road.watcher.messages[0], c.message));
    EXPECT_TRUE(road.launcher.started.empty());
    EXPECT_TRUE(road.launcher.ran.empty());
    EXPECT_TRUE(road.server.Requests().empty());
  }
}

// An installer that stalls is stopped, at its limit or by "取消": the user is told the program folder may be partly
// updated, and the program there is started.
TEST(UpdaterRoad, AStalledInstallerIsStoppedAndAProgramIsStarted) {
  struct Case {
    const char* label;
    bool cancel;
    const char* message;
  };
  const Case cases[] = {
      {"at its limit", false, "安装程序在"},
      {"by 取消", true, "安装已取消，安装程序已停止"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    UpdaterRoad road(Server::kGood);
    // Shortened for the test; the program waits kInstallerLimitMs.
    road.settings.installerLimitMs = c.cancel ? 60'000 : 300;
    SetVariable("VEXTAL_STAND_IN_HANG", "1");
    const UpdateResult result = road.Run([&](UpdateSequence& sequence) {
      if (c.cancel) road.watcher.whileInstalling = [&sequence] { sequence.Cancel(); };
    });
    ClearVariable("VEXTAL_STAND_IN_HANG");

    EXPECT_EQ(result, UpdateResult::kNotInstalled);
    ASSERT_EQ(road.watcher.messages.size(), 1U);
    EXPECT_TRUE(StartsWith(road.watcher.messages[0], c.message))
        << road.watcher.messages[0];
    EXPECT_EQ(road.launcher.ran.size(), 1U);
    ASSERT_EQ(road.launcher.started.size(), 1U);
    EXPECT_EQ(road.launcher.started[0].program, platform::ProgramFileIn(road.Install(), "vextal"));
    EXPECT_EQ(ReadFile(road.Working() / "data" / "data.mdb"), kOldCatalogue);
  }
}

// Where running files cannot be replaced, the updater in the install folder copies the program away, minus the client,
// hands the work to the copy with the install folder named, and does nothing more itself.
TEST(UpdaterRoad, StagingHandsTheWorkToACopyOutsideTheInstallFolder) {
  UpdaterRoad road(Server::kGood);
  WriteFile(road.Install() / "platforms" / "qwindows.dll", "platform plugin");
  WriteFile(road.Install() / "Qt6Core.dll", "toolkit");
  WriteFile(road.Updates() / kStagingFolderName / "earlier" / "Upgrading.exe", "a copy of an earlier run");
  road.settings.stageFirst = true;

  EXPECT_EQ(road.Run(), UpdateResult::kHandedOver);

  EXPECT_TRUE(road.watcher.messages.empty());
  EXPECT_TRUE(road.server.Requests().empty());
  EXPECT_TRUE(road.launcher.ran.empty());
  ASSERT_EQ(road.launcher.started.size(), 1U);
  const platform::Launch& copy = road.launcher.started[0];
  EXPECT_EQ(copy.workingFolder, road.Working());
  const Invocation invocation = ParseInvocation(copy.arguments);
  EXPECT_EQ(invocation.kind, Invocation::Kind::kStaged);
  EXPECT_EQ(invocation.installFolder, road.Install());
  const fs::path staged = copy.program.parent_path();
  EXPECT_EQ(staged.parent_path(), road.Updates() / kStagingFolderName);
  EXPECT_EQ(ReadFile(copy.program), "this updater");
  EXPECT_EQ(ReadFile(staged / "platforms" / "qwindows.dll"), "platform plugin");
  EXPECT_EQ(ReadFile(staged / "Qt6Core.dll"), "toolkit");
  EXPECT_FALSE(fs::exists(platform::ProgramFileIn(staged, "vextal")));
  EXPECT_FALSE(fs::exists(road.Updates() / kStagingFolderName / "earlier"));
  EXPECT_EQ(ReadFile(platform::ProgramFileIn(road.Install(), "vextal")), kOldClient);
}

}  // namespace
}  // namespace updater
