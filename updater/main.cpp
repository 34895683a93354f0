#include "platform/program_run.h"
#include "platform/user_folders.h"
#include "net/tls_channel.h"
#include "ui/error_report.h"
#include "ui/pump.h"
#include "ui/seams.h"
#include "updater/staging.h"
#include "updater/updater_window.h"
#include "vextal_config.h"

#include <QApplication>
#include <QStringList>

#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ui::InstallPumpDispatcher();
  ui::InstallProxyLoginPrompt();
  if (*vextal::kDemoTrustedAuthority != '\0') net::SetExtraTrustedAuthorities(vextal::kDemoTrustedAuthority);

  std::vector<std::u16string> arguments;
  const QStringList given = QCoreApplication::arguments();
  for (qsizetype i = 1; i < given.size(); ++i) arguments.push_back(given[i].toStdU16String());
  const updater::Invocation invocation = updater::ParseInvocation(arguments);

  updater::UpdaterSettings settings;
  settings.versionServer = vextal::kVersionServer;
  settings.publicKeyHex = vextal::kUpdatePublicKey;
  settings.runningVersion = vextal::kVersionText;
  settings.ownProgram = platform::OwnProgramFile();
  settings.workingFolder = std::filesystem::current_path();
  settings.updatesFolder = platform::UpdatesFolder();
  settings.installFolder = invocation.kind == updater::Invocation::Kind::kStaged ? invocation.installFolder
                                                                                 : settings.ownProgram.parent_path();
  // A staged copy never stages again, whatever the platform says.
  settings.stageFirst =
      invocation.kind == updater::Invocation::Kind::kInPlace && platform::RunningProgramFilesAreLocked();

  updater::SystemLauncher launcher;
  updater::UpdaterWindow window(settings, launcher);
  if (invocation.kind == updater::Invocation::Kind::kInvalid) {
    // Nothing is known of where the program lies: nothing is started either.
    ui::dialogs().ShowMessage(QString::fromUtf8(updater::kBadArgumentsText));
    return static_cast<int>(updater::UpdateResult::kNotInstalled);
  }
  return static_cast<int>(window.Run());
}
