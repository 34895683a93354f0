#pragma once

#include "net/anti_freeze.h"
#include "ui/countdown.h"

#include <QSize>
#include <QString>
#include <QWidget>

class QKeyEvent;
class QLineEdit;
class QProgressBar;
class QShowEvent;
class QTimer;

namespace ui {

// What the three task windows share: a borderless, always-on-top strip with a progress bar along its top, a
// countdown timer with its text field, and one AntiFreeze created with the window. It is placed at the centre of the
// main window when first shown and keeps that place afterwards, as the user may have dragged the main window since.
// The controls keep the names the program's documentation gives them.
class TaskWindow : public QWidget {
  Q_OBJECT

 public:
  TaskWindow(const QString& caption, QSize clientSize, QWidget* mainWindow);

  QWidget* MainWindow() const { return m_mainWindow; }
  CountdownTrigger& Countdown() { return m_countdown; }

  // What the main window's command for this window does: shows it (which arms the countdown), or, when it is already
  // on screen idle after a failure (countdown stopped, no action running), arms the countdown again so the action is
  // retried a moment later. While its action runs or its countdown is armed, nothing happens: never two requests on
  // the window's one client.
  void ShowForCommand();

  QProgressBar* const ProgressBar1;
  QTimer* const Timer1;
  // The countdown text field; hidden unless a window shows its reading.
  QLineEdit* const Edit1;
  net::AntiFreeze IdAntiFreeze1;

 protected:
  // Runs on every real show (showing a window that is already visible does not get here): arms the countdown.
  virtual void FormShow();
  // Once a second while the countdown runs.
  virtual void Timer1Timer();

  void showEvent(QShowEvent* event) override;
  // Escape puts away a strip whose action is not running: it has no border or close box of its own.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CentreOnMainWindow();

  QWidget* m_mainWindow;
  bool m_placed = false;
  CountdownTrigger m_countdown;
};

}  // namespace ui
