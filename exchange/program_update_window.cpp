#include "exchange/program_update_window.h"

#include "exchange/server_pages.h"
#include "ui/seams.h"
#include "vextal_config.h"

#include <QLineEdit>
#include <QString>

namespace {

constexpr const char* kCaption = "更新程序";
constexpr int kClientWidth = 747;
constexpr int kClientHeight = 49;
// The countdown field lies over the bar and shows the running reading; before the first tick it holds its own name.
constexpr int kEditLeft = 488;
constexpr int kEditTop = 16;
constexpr int kEditWidth = 121;
constexpr int kEditHeight = 22;
constexpr const char* kCountdownInitialText = "Edit1";

// Found by the platform's search for programs; what it does is its own business.
constexpr const char* kUpdater = "Upgrading.exe";
// The updater is a separate program that an installation may lack: ending the program then would update nothing.
constexpr const char* kUpdaterMissing = "软件有了新版本，但没有找到升级程序 Upgrading.exe。请到 %1 下载新版本，手动安装。";

}  // namespace

exchange::ProgramUpdateWindow::ProgramUpdateWindow(QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      m_versionServer(vextal::kVersionServer) {
  CountdownText->setGeometry(kEditLeft, kEditTop, kEditWidth, kEditHeight);
  CountdownText->setText(QString::fromLatin1(kCountdownInitialText));
  CountdownText->raise();
  CountdownText->show();
  m_http.ReadTimeout = download::kSilentLinkLimitMs;
}

void exchange::ProgramUpdateWindow::OnCountdownTick() {
  Countdown().Tick();
  if (!Countdown().Fires(ui::kReading28)) {
    return;
  }
  // The get pumps the event queue: a tick arriving meanwhile must not start a second get on the same client. The
  // message after it counts as running too, so the menu command cannot start the check again under it.
  ui::CountdownTrigger::ActionScope running(Countdown());
  const std::string answer = m_http.GetText(m_versionServer + exchange::kVersionPage, exchange::kMaxPageBytes);
  const exchange::VersionAnswer version = exchange::ReadVersionAnswer(answer);
  // A page in the version's place fails the check as a failed request does: reported, with the countdown left running
  // for the repeat. Ending the program for the updater would update nothing.
  if (version == exchange::VersionAnswer::kNoVersion) throw exchange::InterceptedAnswer();
  Countdown().Stop();
  if (version == exchange::VersionAnswer::kThisVersion) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kNothingNewerText));
    hide();
    return;
  }
  if (!ui::processes().Exists(QString::fromLatin1(kUpdater))) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kUpdaterMissing).arg(QString::fromUtf8(vextal::kPublisherUrl)));
    hide();
    return;
  }
  // The updater's start is not checked: it replaces the program, and this process must be gone for it to do so.
  ui::processes().StartHidden(QString::fromLatin1(kUpdater));
  if (MainWindow()) {
    MainWindow()->close();
  }
}
