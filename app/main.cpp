#include "app/main_window.h"
#include "app/startup.h"
#include "net/tls_channel.h"
#include "ui/error_report.h"
#include "vextal_config.h"

#include <QCoreApplication>

#include <optional>

int main(int argc, char** argv) {
  ui::GuardedApplication application(argc, argv);
  // The program's title is its file name without extension; message boxes use it as their caption.
  QCoreApplication::setApplicationName(QString::fromLatin1(app::kApplicationName));

  // A proxy that wants a login asks the user for it, whichever window's request met it.
  ui::InstallProxyLoginPrompt();
  if (*vextal::kDemoTrustedAuthority != '\0') net::SetExtraTrustedAuthorities(vextal::kDemoTrustedAuthority);

  if (const std::optional<int> exitCode = app::Start(app::ShowApplicationErrorBox)) {
    return *exitCode;
  }
  return QApplication::exec();
}
