#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <utility>

// The program's contact points with the user and the platform. Windows call them through these small interfaces so
// tests can record what would have been shown or started, and never block on a real dialog or end the test process.
namespace ui {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal message with one OK button, no icon, the application's title as caption.
  virtual void ShowMessage(const QString& text) = 0;
  // The default error report: stop icon, the application's title as caption. The text arrives already finished.
  virtual void ShowError(const QString& text) = 0;
  // The grid's delete question: caption "Confirm", buttons "OK" and "Cancel"; true for OK.
  virtual bool Confirm(const QString& text) = 0;
  // A question the program asks the user: the application's title as caption, buttons "是" and "否"; true for yes.
  virtual bool Ask(const QString& text) = 0;
  // A name and a password (a proxy's login): the text above two fields, buttons "确定" and "取消"; nothing for "取消".
  // A stand-in that asks nobody declines.
  virtual std::optional<std::pair<QString, QString>> AskLogin(const QString&) { return std::nullopt; }
};

class Shell {
 public:
  virtual ~Shell() = default;
  // The shell's default action on a file or web address; failures are not reported.
  virtual void Open(const QString& target) = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Whether a program of this bare name can be found where StartHidden looks for it.
  virtual bool Exists(const QString& program) = 0;
  // Starts a program by its bare name with a hidden window, without waiting and without checking that it started.
  virtual void StartHidden(const QString& program) = 0;
  // Ends the own process at once, with no orderly close of anything.
  virtual void EndProcess(int exitCode) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual QDateTime Now() const = 0;
};

// The seams in force; the real implementations until a test installs its own (nullptr restores the real one).
Dialogs& dialogs();
Shell& shell();
Processes& processes();
Clock& clock();
void SetDialogs(Dialogs* replacement);
void SetShell(Shell* replacement);
void SetProcesses(Processes* replacement);
void SetClock(Clock* replacement);

}  // namespace ui
