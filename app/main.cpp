#include "app/main_window.h"
#include "app/startup.h"
#include "ui/error_report.h"

#include <QCoreApplication>

#include <optional>

int main(int argc, char** argv) {
  ui::GuardedApplication application(argc, argv);
  // The program's title is its file name without extension; message boxes use it as their caption.
  QCoreApplication::setApplicationName(QString::fromLatin1(app::kApplicationName));

  // A proxy that wants a login asks the user for it, whichever window's request met it.
  ui::InstallProxyLoginPrompt();

  if (const std::optional<int> exitCode = app::Start(app::ShowApplicationErrorBox)) {
    return *exitCode;
  }
  return QApplication::exec();
}
