#pragma once

#include "platform/folder_lock.h"
#include "platform/gbk.h"
#include "store/catalogue.h"

#include <QString>

#include <exception>
#include <functional>
#include <optional>

namespace exchange {
class CatalogueUpdateWindow;
class PaperDownloadWindow;
class ProgramUpdateWindow;
}  // namespace exchange

namespace app {

class MainWindow;

inline constexpr const char* kApplicationName = "vextal";
inline constexpr const char* kApplicationErrorCaption = "Application Error";
inline constexpr int kStartupFailureExitCode = 1;
// One program per working folder: the running one holds this file, beside the catalogue it keeps open.
inline constexpr const char* kFolderLockFile = platform::kWorkingFolderLockFile;
inline constexpr const char* kAlreadyRunningText = "题库程序已经在这个文件夹中运行。";
inline constexpr int kAlreadyRunningExitCode = 0;

// Shows the run-time error box (task-modal, stop icon, caption "Application Error") with a finished text.
using ApplicationErrorBox = std::function<void(const QString& text)>;
void ShowApplicationErrorBox(const QString& text);

// The exception's class name without namespaces ("DatabaseError").
QString ExceptionClassName(const std::exception& error);

// "Exception <class> in module <module> at <address>." followed by a line break and the error's message.
QString ApplicationErrorText(const std::exception& error, const QString& module, const void* address);

// The program's windows, created once each and living until the process ends.
struct Windows {
  MainWindow* main = nullptr;
  exchange::CatalogueUpdateWindow* catalogueUpdate = nullptr;
  exchange::ProgramUpdateWindow* programUpdate = nullptr;
  exchange::PaperDownloadWindow* paperDownload = nullptr;
};
Windows& windows();

// Installs the pump dispatcher (the calling thread becomes the UI thread) and creates every window once, in the
// program's order (main window, catalogue update, program update, paper download), so the paper download window's
// pump policy is the one in force; publishes them in windows(); makes the download folder ready (created when
// missing, an interrupted download's temporary files removed) and returns 0. When a window cannot be created (the
// catalogue does not open), or gbkConverterAvailable says there is no GBK converter, reports it through errorBox and
// returns the exit code the process must end with.
int CreateWindows(const ApplicationErrorBox& errorBox,
                const QString& databasePath = QString::fromLatin1(store::kCatalogueFile),
                bool (*gbkConverterAvailable)() = platform::GbkConverterAvailable);

// The program's start: takes the working folder (kFolderLockFile), creates the windows with CreateWindows, shows the
// main window and records it for later starts in the folder; returns nothing, and the caller runs the event loop.
// While another program holds the folder it opens nothing: it brings that program's window to the front, or where
// that cannot be done shows kAlreadyRunningText, and returns kAlreadyRunningExitCode. When CreateWindows fails,
// returns its exit code.
std::optional<int> Start(const ApplicationErrorBox& errorBox);

// Deletes the windows CreateWindows made, newest first, clears windows() and lets go of the working folder. The
// program itself never calls it (the process ends without an orderly close); tests that start the client more than
// once do.
void DestroyWindows();

}  // namespace app
