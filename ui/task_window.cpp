#include "ui/task_window.h"

#include "ui/error_report.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QShowEvent>
#include <QTimer>

namespace ui {
namespace {

// The bar takes the strip's width and most of its height; the rest is the window's own margin below it.
constexpr int kProgressBarBottomMargin = 8;

}  // namespace

TaskWindow::TaskWindow(const QString& caption, QSize clientSize, QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ProgressBar1(new QProgressBar(this)),
      Timer1(new QTimer(this)),
      Edit1(new QLineEdit(this)),
      m_mainWindow(mainWindow),
      m_countdown(*Timer1, *Edit1) {
  setWindowTitle(caption);
  setFixedSize(clientSize);

  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(0, 0, clientSize.width(), clientSize.height() - kProgressBarBottomMargin);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kCountdownPeriodMs);
  // Queued, as in the main window: the toolkit delivers no further tick of a timer while its own handler runs, so a
  // direct connection would freeze the countdown (visible in the program update window) for a whole request. Ticks
  // that arrive while the request waits find the action busy and are skipped.
  connect(
      Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); }, Qt::QueuedConnection);

  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->hide();
}

void TaskWindow::ShowForCommand() {
  if (!isVisible()) {
    show();
    return;
  }
  if (!m_countdown.Running() && !m_countdown.Busy()) {
    m_countdown.Arm();
  }
}

void TaskWindow::FormShow() { m_countdown.Arm(); }

void TaskWindow::Timer1Timer() {}

void TaskWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A spontaneous show is the window system restoring the window, not the program showing it.
  if (event->spontaneous()) {
    return;
  }
  if (!m_placed) {
    CentreOnMainWindow();
    m_placed = true;
  }
  Guarded([this] { FormShow(); });
}

void TaskWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape || m_countdown.Busy()) {
    QWidget::keyPressEvent(event);
    return;
  }
  m_countdown.Stop();
  hide();
  event->accept();
}

void TaskWindow::CentreOnMainWindow() {
  if (!m_mainWindow) {
    return;
  }
  const QRect main = m_mainWindow->frameGeometry();
  move(main.x() + (main.width() - width()) / 2, main.y() + (main.height() - height()) / 2);
}

}  // namespace ui
