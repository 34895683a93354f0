#include "updater/updater_window.h"

#include "platform/program_run.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/qt_fakes.h"
#include "ui/pump.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPushButton>
#include <QMetaObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace updater {
namespace {

namespace fs = std::filesystem;
using testsupport::Action;

class RecordingLauncher : public Launcher {
 public:
  bool Start(const platform::Launch& launch) override {
    started.push_back(launch);
    return true;
  }
  platform::RunOutcome RunInstaller(const platform::HeldFile&, const platform::Launch&,
                                    const platform::RunLimits&) override {
    return {platform::RunOutcome::End::kNotStarted, 0};
  }
  std::vector<platform::Launch> started;
};

// The window watches the sequence: it shows the step under way, and its "取消" and its close box end the wait for a
// server that never answers, with nothing said and the program started again.
TEST(UpdaterWindow, ShowsTheStepAndEndsItOnTheUsersWord) {
  struct Case {
    const char* label;
    bool closeBox;
  };
  const Case cases[] = {{"取消", false}, {"the close box", true}};
  // As the program's main() does: the waits of its requests serve the window.
  ui::InstallPumpDispatcher();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    testsupport::InstalledFakes fakes;
    testsupport::ScratchDirectory root;
    testsupport::LoopbackServer server;
    server.Enqueue({Action::Hold()});
    UpdaterSettings settings;
    settings.versionServer = server.Url("");
    settings.runningVersion = "3.1";
    settings.installFolder = fs::path(root.LocalPath("install"));
    settings.workingFolder = fs::path(root.LocalPath("work"));
    settings.updatesFolder = fs::path(root.LocalPath("updates"));
    settings.ownProgram = settings.installFolder / "Upgrading.exe";
    RecordingLauncher launcher;
    UpdaterWindow window(settings, launcher);
    QString statusWhenCancelled;
    // Once the description is asked for, the user ends the wait: looked at again at each turn of the event loop the
    // request's wait serves, never after a set time.
    std::function<void()> lookOnce;
    lookOnce = [&] {
      if (server.Requests().empty()) {
        QMetaObject::invokeMethod(&window, lookOnce, Qt::QueuedConnection);
        return;
      }
      statusWhenCancelled = window.StatusText();
      if (c.closeBox) {
        window.close();
      } else {
        window.findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
      }
    };
    QMetaObject::invokeMethod(&window, lookOnce, Qt::QueuedConnection);

    EXPECT_EQ(window.Run(), UpdateResult::kNotInstalled);

    EXPECT_EQ(statusWhenCancelled, QString::fromUtf8("正在检查新版本…"));
    EXPECT_TRUE(fakes.dialogs.messages.isEmpty()) << fakes.dialogs.messages.join("|").toStdString();
    ASSERT_EQ(launcher.started.size(), 1U);
    EXPECT_EQ(launcher.started[0].program, platform::ProgramFileIn(settings.installFolder, "vextal"));
  }
}

}  // namespace
}  // namespace updater
