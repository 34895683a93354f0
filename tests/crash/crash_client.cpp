// The real client as a process of its own, for the crash-safety test to kill at a random moment: the program's
// windows from the real start-up, in the working folder given, pointed at the test's server. The dialog, shell and
// process seams only record (a modal dialog would stop the road); the countdowns run on a fake clock ticked here.
//
//   crash_client import|download FOLDER ORIGIN
//
// Prints "ready" once its windows are up and "done" when the import or the download is through.

#include "app/main_window.h"
#include "app/startup.h"
#include "exchange/catalogue_update_window.h"
#include "exchange/program_update_window.h"
#include "exchange/paper_download_window.h"
#include "tests/support/qt_fakes.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A little over a second after the show: the 28 reading, where a task window does its work.
constexpr qint64 kFirstTickMs = 1500;
constexpr int kUsageExitCode = 2;

void FirstTick(testsupport::FakeClock& clock, QTimer* timer) {
  clock.AdvanceMs(kFirstTickMs);
  QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

void Say(const char* word) {
  std::puts(word);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc != 4 || (std::strcmp(argv[1], "import") != 0 && std::strcmp(argv[1], "download") != 0)) {
    std::fprintf(stderr, "usage: crash_client import|download FOLDER ORIGIN\n");
    return kUsageExitCode;
  }
  const bool import = std::strcmp(argv[1], "import") == 0;
  const std::string origin = argv[3];
  if (!QDir::setCurrent(QString::fromLocal8Bit(argv[2]))) return kUsageExitCode;

  testsupport::InstalledFakes fakes;
  if (app::CreateWindows([](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); }) != 0) {
    return app::kStartupFailureExitCode;
  }
  app::windows().main->SetServers(origin, origin);
  app::windows().catalogueUpdate->SetContentServer(origin);
  app::windows().programUpdate->SetVersionServer(origin);
  app::windows().paperDownload->SetContentServer(origin);
  app::windows().main->show();
  Say("ready");

  if (import) {
    app::windows().main->UpdateCatalogueAction->trigger();
    FirstTick(fakes.clock, app::windows().catalogueUpdate->CountdownTimer);
  } else {
    // The newest row is current in the default list; "下载试卷" fetches it.
    app::windows().main->DownloadPaperAction->trigger();
    FirstTick(fakes.clock, app::windows().paperDownload->CountdownTimer);
  }
  Say("done");
  return 0;
}
