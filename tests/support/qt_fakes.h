#pragma once

#include "ui/seams.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <deque>
#include <functional>

// Recording stand-ins for the seams: nothing is shown, opened, started or ended; every call is written down.
namespace testsupport {

class RecordingDialogs : public ui::Dialogs {
 public:
  void ShowMessage(const QString& text) override;
  void ShowError(const QString& text) override;
  bool Confirm(const QString& text) override;
  // Recorded in questions, answered like Confirm.
  bool Ask(const QString& text) override;
  // Recorded in logins, answered from loginAnswers in order ("取消" when none is left).
  std::optional<std::pair<QString, QString>> AskLogin(const QString& text) override;

  QStringList messages;
  QStringList logins;
  std::deque<std::optional<std::pair<QString, QString>>> loginAnswers;
  QStringList errors;
  QStringList confirmations;
  QStringList questions;
  // Answers for the coming Confirm calls, in order; when none is left, confirmDefault answers.
  std::deque<bool> confirmAnswers;
  bool confirmDefault = false;
  // Runs while a dialog is "open" (a real modal dialog keeps timers ticking): a test can tick timers or re-enter
  // handlers here. Argument: the dialog's text.
  std::function<void(const QString&)> whileOpen;
};

class RecordingShell : public ui::Shell {
 public:
  void Open(const QString& target) override;

  QStringList opened;
};

class RecordingProcesses : public ui::Processes {
 public:
  bool Exists(const QString& program) override { return !missing.contains(program); }
  void StartHidden(const QString& program) override;
  void EndProcess(int exitCode) override;

  QStringList started;
  // Programs Exists does not find.
  QStringList missing;
  QVector<int> endCodes;
  // Runs when the process would end (the real one never returns from it). Argument: the exit code.
  std::function<void(int)> whenEnded;
};

class FakeClock : public ui::Clock {
 public:
  QDateTime Now() const override { return now; }
  void AdvanceMs(qint64 ms) { now = now.addMSecs(ms); }

  QDateTime now = QDateTime(QDate(2009, 3, 2), QTime(10, 0, 0));
};

// Installs all four fakes for its lifetime and restores the real seams after.
class InstalledFakes {
 public:
  InstalledFakes();
  ~InstalledFakes();
  InstalledFakes(const InstalledFakes&) = delete;
  InstalledFakes& operator=(const InstalledFakes&) = delete;

  RecordingDialogs dialogs;
  RecordingShell shell;
  RecordingProcesses processes;
  FakeClock clock;
};

}  // namespace testsupport
