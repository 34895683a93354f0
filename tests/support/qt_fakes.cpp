#include "tests/support/qt_fakes.h"

namespace testsupport {

void RecordingDialogs::ShowMessage(const QString& text) {
  messages << text;
  if (whileOpen) {
    whileOpen(text);
  }
}

void RecordingDialogs::ShowError(const QString& text) {
  errors << text;
  if (whileOpen) {
    whileOpen(text);
  }
}

bool RecordingDialogs::Ask(const QString& text) {
  questions << text;
  const bool answer = Confirm(text);
  confirmations.removeLast();
  return answer;
}

std::optional<std::pair<QString, QString>> RecordingDialogs::AskLogin(const QString& text) {
  logins << text;
  if (whileOpen) {
    whileOpen(text);
  }
  std::optional<std::pair<QString, QString>> answer;
  if (!loginAnswers.empty()) {
    answer = std::move(loginAnswers.front());
    loginAnswers.pop_front();
  }
  return answer;
}

bool RecordingDialogs::Confirm(const QString& text) {
  confirmations << text;
  if (whileOpen) {
    whileOpen(text);
  }
  if (confirmAnswers.empty()) {
    return confirmDefault;
  }
  const bool answer = confirmAnswers.front();
  confirmAnswers.pop_front();
  return answer;
}

void RecordingShell::Open(const QString& target) { opened << target; }

void RecordingProcesses::StartHidden(const QString& program) { started << program; }

void RecordingProcesses::EndProcess(int exitCode) {
  endCodes << exitCode;
  if (whenEnded) {
    whenEnded(exitCode);
  }
}

InstalledFakes::InstalledFakes() {
  ui::SetDialogs(&dialogs);
  ui::SetShell(&shell);
  ui::SetProcesses(&processes);
  ui::SetClock(&clock);
}

InstalledFakes::~InstalledFakes() {
  ui::SetDialogs(nullptr);
  ui::SetShell(nullptr);
  ui::SetProcesses(nullptr);
  ui::SetClock(nullptr);
}

}  // namespace testsupport
