#include "ui/seams.h"

#include "platform/desktop.h"
#include "platform/process.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

namespace ui {
namespace {

constexpr const char* kConfirmCaption = "Confirm";
constexpr const char* kOkText = "OK";
constexpr const char* kCancelText = "Cancel";
constexpr const char* kYesText = "是";
constexpr const char* kNoText = "否";
constexpr const char* kUserNameLabel = "用户名：";
constexpr const char* kPasswordLabel = "密码：";
constexpr const char* kLoginOkText = "确定";
constexpr const char* kLoginCancelText = "取消";

// Targets with a scheme ("http://...") are web addresses; everything else is a path in the file system.
bool IsWebAddress(const QString& target) { return target.contains(QStringLiteral("://")); }

class RealDialogs : public Dialogs {
 public:
  void ShowMessage(const QString& text) override {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
  }

  void ShowError(const QString& text) override {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
  }

  bool Confirm(const QString& text) override {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kConfirmCaption), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    // Spelled out rather than left to the standard buttons, whose texts follow whatever translator is installed.
    QPushButton* ok = box.addButton(QString::fromLatin1(kOkText), QMessageBox::AcceptRole);
    box.addButton(QString::fromLatin1(kCancelText), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.exec();
    return box.clickedButton() == ok;
  }

  std::optional<std::pair<QString, QString>> AskLogin(const QString& text) override {
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(QCoreApplication::applicationName());
    auto* form = new QFormLayout(&dialog);
    form->addRow(new QLabel(text, &dialog));
    auto* name = new QLineEdit(&dialog);
    auto* password = new QLineEdit(&dialog);
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QString::fromUtf8(kUserNameLabel), name);
    form->addRow(QString::fromUtf8(kPasswordLabel), password);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* ok = buttons->addButton(QString::fromUtf8(kLoginOkText), QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromUtf8(kLoginCancelText), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return std::make_pair(name->text(), password->text());
  }

  bool Ask(const QString& text) override {
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton* yes = box.addButton(QString::fromUtf8(kYesText), QMessageBox::YesRole);
    box.addButton(QString::fromUtf8(kNoText), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.exec();
    return box.clickedButton() == yes;
  }
};

class RealShell : public Shell {
 public:
  void Open(const QString& target) override {
    // The link label asks for SW_SHOW, a downloaded paper for SW_SHOWNORMAL; neither passes a verb or parameters.
    const bool web = IsWebAddress(target);
    const QString native = web ? target : QDir::toNativeSeparators(target);
    QWidget* window = QApplication::activeWindow();
    const platform::ShellAnswer answer = platform::OpenWithShell(
        native.toStdU16String(), window ? reinterpret_cast<platform::WindowHandle>(window->winId()) : nullptr,
        web ? platform::ShowCommand::kShow : platform::ShowCommand::kShowNormal);
    if (answer == platform::ShellAnswer::kNotHandled) {
      QDesktopServices::openUrl(web ? QUrl(target) : QUrl::fromLocalFile(target));
    }
  }
};

class RealProcesses : public Processes {
 public:
  bool Exists(const QString& program) override { return platform::ProgramExists(program.toStdU16String()); }

  // Whether it started is not looked at: the program ends all the same, so that the updater can replace it.
  void StartHidden(const QString& program) override { platform::StartHidden(program.toStdU16String()); }

  void EndProcess(int exitCode) override { platform::EndProcessNow(exitCode); }
};

class RealClock : public Clock {
 public:
  QDateTime Now() const override { return QDateTime::currentDateTime(); }
};

RealDialogs g_realDialogs;
RealShell g_realShell;
RealProcesses g_realProcesses;
RealClock g_realClock;

Dialogs* g_dialogs = &g_realDialogs;
Shell* g_shell = &g_realShell;
Processes* g_processes = &g_realProcesses;
Clock* g_clock = &g_realClock;

}  // namespace

Dialogs& dialogs() { return *g_dialogs; }
Shell& shell() { return *g_shell; }
Processes& processes() { return *g_processes; }
Clock& clock() { return *g_clock; }

void SetDialogs(Dialogs* replacement) { g_dialogs = replacement ? replacement : &g_realDialogs; }
void SetShell(Shell* replacement) { g_shell = replacement ? replacement : &g_realShell; }
void SetProcesses(Processes* replacement) { g_processes = replacement ? replacement : &g_realProcesses; }
void SetClock(Clock* replacement) { g_clock = replacement ? replacement : &g_realClock; }

}  // namespace ui
