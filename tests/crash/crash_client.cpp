// The real client as a process of its own, for the crash-safety test to kill at a random moment: the program's
// windows from the real start-up, in the working folder given, pointed at the test's server. The dialog, shell and
// process seams only record (a modal dialog would stop the road); the countdowns run on a fake clock ticked here.
//
//   crash_client import|download FOLDER ORIGIN
//   crash_client show FOLDER
//
// import and download print "ready" once the windows are up and "done" when the import or the download is through.
// show starts as a user's start does and prints what the main window shows and what its catalogue runs with, as
//   shown 1 list 100 newest 20500 journal delete synchronous 2
// (newest is the F_bh of the list's first row, "-" for an empty list); a start that fails prints its error report on
// stderr and ends with the start-up failure's exit code.
//
// With VEXTAL_CRASH_KILL_AT set (kill_step.h), the client ends itself by SIGKILL at that step of the download on the
// program's own folder.

#include "app/main_window.h"
#include "app/startup.h"
#include "exchange/catalogue_update_window.h"
#include "exchange/program_update_window.h"
#include "exchange/paper_download_window.h"
#include "exchange/paper_path.h"
#include "store/result_set.h"
#include "tests/crash/kill_step.h"
#include "tests/support/qt_fakes.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QSqlQuery>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

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

QString PragmaValue(const char* name) {
  QSqlQuery query(app::windows().main->Database());
  return query.exec(QStringLiteral("pragma %1").arg(QLatin1String(name))) && query.next() ? query.value(0).toString()
                                                                                            : QStringLiteral("?");
}

int ShowList() {
  app::windows().main->show();
  QCoreApplication::processEvents();
  const store::ResultSet* list = app::windows().main->MainList();
  const QString newest = list->RecordCount() == 0 ? QStringLiteral("-") : list->FieldAsText(0, QStringLiteral("F_bh"));
  std::printf("shown %d list %d newest %s journal %s synchronous %s\n", app::windows().main->isVisible() ? 1 : 0,
              list->RecordCount(), qPrintable(newest), qPrintable(PragmaValue("journal_mode")),
              qPrintable(PragmaValue("synchronous")));
  std::fflush(stdout);
  return 0;
}

// The step the test named: its number (0: none) and whether the client ends after it rather than before.
struct KillStep {
  int number = 0;
  bool after = false;
};

KillStep NamedKillStep() {
  KillStep step;
  const char* text = std::getenv(crashtest::kKillAtVariable);
  constexpr int kWhenLength = 8;
  char when[kWhenLength] = {};
  if (text != nullptr && std::sscanf(text, "%d %7s", &step.number, when) == 2) {
    step.after = std::strcmp(when, crashtest::kAfterStep) == 0;
  }
  return step;
}

bool InProgramFolder(const char* path) {
  const std::string folder = "/" + std::string(exchange::kProgramFolderName);
  const char* found = std::strstr(path, folder.c_str());
  return found != nullptr && (found[folder.size()] == '\0' || found[folder.size()] == '/');
}

enum class KillMoment { kNone, kBefore, kAfter };

// Counts the steps on the program's folder; when this is the one the test named, when to end.
KillMoment CountStep(const char* path) {
  static const KillStep named = NamedKillStep();
  static std::atomic<int> steps{0};
  if (named.number <= 0 || !InProgramFolder(path) || ++steps != named.number) return KillMoment::kNone;
  return named.after ? KillMoment::kAfter : KillMoment::kBefore;
}

// Whatever puts a name in the download's folder or takes one away, but the partial file's own creation, goes through
// rename or remove (std::filesystem calls them): the client's own definitions of the two, which every library of the
// process binds to, see each step, and the partial file is created or emptied between two of them.
template <typename Call>
int AsStep(const char* path, Call call) {
  const KillMoment moment = CountStep(path);
  if (moment == KillMoment::kBefore) ::kill(::getpid(), SIGKILL);
  const int result = call();
  if (moment == KillMoment::kAfter) ::kill(::getpid(), SIGKILL);
  return result;
}

template <typename Function>
Function* Next(const char* name) {
  return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* from, const char* to) noexcept {
  static auto* const next = Next<int(const char*, const char*)>("rename");
  return AsStep(from, [&] { return next(from, to); });
}

extern "C" int remove(const char* path) noexcept {
  static auto* const next = Next<int(const char*)>("remove");
  return AsStep(path, [&] { return next(path); });
}

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool show = mode == "show" && argc == 3;
  if (!show && (argc != 4 || (mode != "import" && mode != "download"))) {
    std::fprintf(stderr, "usage: crash_client import|download FOLDER ORIGIN\n       crash_client show FOLDER\n");
    return kUsageExitCode;
  }
  const bool import = mode == "import";
  if (!QDir::setCurrent(QString::fromLocal8Bit(argv[2]))) return kUsageExitCode;

  // The fakes keep the countdown still, so no background check asks a server while a list is shown.
  testsupport::InstalledFakes fakes;
  if (app::CreateWindows([](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); }) != 0) {
    return app::kStartupFailureExitCode;
  }
  if (show) return ShowList();
  const std::string origin = argv[3];
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
