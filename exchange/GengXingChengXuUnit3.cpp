#include "exchange/GengXingChengXuUnit3.h"

#include "exchange/page_limits.h"
#include "ui/seams.h"
#include "vextal_config.h"

#include <QLineEdit>
#include <QString>

TGengXinChengXun* GengXinChengXun = nullptr;

namespace {

constexpr const char* kCaption = "更新程序";
constexpr int kClientWidth = 747;
constexpr int kClientHeight = 49;
// The countdown field lies over the bar and shows the running reading; before the first tick it holds its own name.
constexpr int kEditLeft = 488;
constexpr int kEditTop = 16;
constexpr int kEditWidth = 121;
constexpr int kEditHeight = 22;
constexpr const char* kEditInitialText = "Edit1";

constexpr const char* kVersionPage = "/vextal.asp";
constexpr const char* kAlreadyCurrent = "系统已经是最新版本了！";
// Found by the platform's search for programs; what it does is its own business.
constexpr const char* kUpdater = "Upgrading.exe";

}  // namespace

TGengXinChengXun::TGengXinChengXun(QWidget* mainWindow)
    : ui::TaskWindow(QString::fromUtf8(kCaption), QSize(kClientWidth, kClientHeight), mainWindow),
      m_versionServer(vextal::kVersionServer) {
  Edit1->setGeometry(kEditLeft, kEditTop, kEditWidth, kEditHeight);
  Edit1->setText(QString::fromLatin1(kEditInitialText));
  Edit1->raise();
  Edit1->show();
}

void TGengXinChengXun::Timer1Timer() {
  Countdown().Tick();
  if (!Countdown().Fires(ui::kReading28)) {
    return;
  }
  // The get pumps the event queue: a tick arriving meanwhile must not start a second get on the same client. The
  // message after it counts as running too, so the menu command cannot start the check again under it.
  ui::CountdownTrigger::ActionScope running(Countdown());
  const std::string answer = m_http.GetText(m_versionServer + kVersionPage, exchange::kMaxPageBytes);
  Countdown().Stop();
  // Byte for byte, untrimmed: "3.1" with a line break after it is another version as far as the server is concerned.
  if (answer == vextal::kVersionText) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kAlreadyCurrent));
    hide();
    return;
  }
  // The updater's start is not checked: it replaces the program, and this process must be gone for it to do so.
  ui::processes().StartHidden(QString::fromLatin1(kUpdater));
  if (MainWindow()) {
    MainWindow()->close();
  }
}
