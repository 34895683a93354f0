#include "app/startup.h"

#include "app/main_window.h"
#include "exchange/catalogue_update_window.h"
#include "exchange/download_folder.h"
#include "exchange/program_update_window.h"
#include "exchange/paper_download_window.h"
#include "platform/desktop.h"
#include "platform/folder_lock.h"
#include "ui/error_report.h"
#include "ui/gbk_text.h"
#include "ui/pump.h"
#include "ui/seams.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <filesystem>
#include <memory>
#include <typeinfo>

#if defined(__GNUG__)
#include <cxxabi.h>

#include <cstdlib>
#endif

namespace app {
namespace {

constexpr const char* kApplicationErrorFormat = "Exception %1 in module %2 at %3.";
constexpr int kHexBase = 16;
constexpr int kHexDigitsPerByte = 2;

QString DemangledTypeName(const std::type_info& type) {
#if defined(__GNUG__)
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  if (status == 0 && name) {
    return QString::fromLatin1(name.get());
  }
#endif
  return QString::fromLatin1(type.name());
}

// Held from the first start's claim until the process ends; the OS lets go of it however the process ends.
platform::FolderLock& FolderClaim() {
  static platform::FolderLock claim;
  return claim;
}

void HandOverToRunningProgram(const std::filesystem::path& lockFile) {
  // Nothing is recorded while the running program is still creating its windows.
  const std::optional<platform::RecordedWindow> running = platform::ReadRecordedWindow(lockFile);
  if (running && platform::BringToFront(*running)) return;
  ui::dialogs().ShowMessage(QString::fromUtf8(kAlreadyRunningText));
}

}  // namespace

void ShowApplicationErrorBox(const QString& text) {
  if (platform::ShowStopBox(QString::fromLatin1(kApplicationErrorCaption).toStdU16String(), text.toStdU16String(),
                           nullptr, platform::BoxModality::kTaskModal)) {
    return;
  }
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationErrorCaption), text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

QString ExceptionClassName(const std::exception& error) {
  QString name = DemangledTypeName(typeid(error));
  // MSVC spells "class store::DatabaseError"; everyone spells the namespaces.
  for (const char* prefix : {"class ", "struct "}) {
    if (name.startsWith(QLatin1String(prefix))) {
      name.remove(0, static_cast<int>(qstrlen(prefix)));
    }
  }
  const qsizetype lastScope = name.lastIndexOf(QStringLiteral("::"));
  return lastScope < 0 ? name : name.mid(lastScope + 2);
}

QString ApplicationErrorText(const std::exception& error, const QString& module, const void* address) {
  const QString hexAddress =
      QStringLiteral("%1")
          .arg(reinterpret_cast<quintptr>(address), static_cast<int>(sizeof(void*)) * kHexDigitsPerByte, kHexBase,
               QLatin1Char('0'))
          .toUpper();
  return QString::fromLatin1(kApplicationErrorFormat).arg(ExceptionClassName(error), module, hexAddress) +
         QLatin1Char('\n') + ui::ErrorText(error);
}

Windows& windows() {
  static Windows theWindows;
  return theWindows;
}

int CreateWindows(const ApplicationErrorBox& errorBox, const QString& databasePath, bool (*gbkConverterAvailable)()) {
  // Before any window exists: every request, from the first on, serves the UI event queue while it waits.
  ui::InstallPumpDispatcher();
  try {
    // Before the catalogue opens: without the converter every text read from the server would be stored empty.
    if (!gbkConverterAvailable()) throw ui::GbkConverterMissing();
    Windows& made = windows();
    made.main = new MainWindow(databasePath);
    made.catalogueUpdate =
        new exchange::CatalogueUpdateWindow(made.main->Database(), made.main->MainList(), made.main);
    made.programUpdate = new exchange::ProgramUpdateWindow(made.main);
    made.paperDownload = new exchange::PaperDownloadWindow(made.main->MainList(), made.main);
    made.main->SetTaskWindows(made.catalogueUpdate, made.programUpdate, made.paperDownload);
    exchange::PrepareDownloadFolder(exchange::DownloadFolder());
    return 0;
  } catch (const std::exception& error) {
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    errorBox(ApplicationErrorText(error, module, &error));
    return kStartupFailureExitCode;
  }
}

std::optional<int> Start(const ApplicationErrorBox& errorBox) {
  const std::filesystem::path lockFile(kFolderLockFile);
  switch (FolderClaim().Acquire(lockFile)) {
    case platform::FolderLock::Outcome::kHeldElsewhere:
      HandOverToRunningProgram(lockFile);
      return kAlreadyRunningExitCode;
    // A folder the lock cannot be taken in (read-only, or on a file system without locks) does not keep the program
    // from starting; the catalogue reports a folder it cannot write on its own.
    case platform::FolderLock::Outcome::kUnavailable:
    case platform::FolderLock::Outcome::kHeld:
      break;
  }
  if (const int failure = CreateWindows(errorBox); failure != 0) return failure;
  windows().main->show();
  FolderClaim().RecordWindow(reinterpret_cast<platform::WindowHandle>(windows().main->winId()));
  return std::nullopt;
}

void DestroyWindows() {
  Windows& made = windows();
  delete made.paperDownload;
  delete made.programUpdate;
  delete made.catalogueUpdate;
  delete made.main;
  made = Windows{};
  FolderClaim().Release();
}

}  // namespace app
