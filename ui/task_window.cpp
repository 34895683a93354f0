#include "ui/task_window.h"

#include "ui/error_report.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace ui {
namespace {

// The bar takes the strip's width and most of its height; the rest is the window's own margin below it.
constexpr int kProgressBarBottomMargin = 8;

}  // namespace

TaskWindow::TaskWindow(const QString& caption, QSize clientSize, QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ProgressBar(new QProgressBar(this)),
      CountdownTimer(new QTimer(this)),
      CountdownText(new QLineEdit(this)),
      m_mainWindow(mainWindow),
      m_countdown(*CountdownTimer, *CountdownText) {
  setWindowTitle(caption);
  setFixedSize(clientSize);

  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setGeometry(0, 0, clientSize.width(), clientSize.height() - kProgressBarBottomMargin);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);

  CountdownTimer->setObjectName(QStringLiteral("CountdownTimer"));
  CountdownTimer->setInterval(kCountdownPeriodMs);
  // Queued, as in the main window: the toolkit delivers no further tick of a timer while its own handler runs, so a
  // direct connection would freeze the countdown (visible in the program update window) for a whole request. Ticks
  // that arrive while the request waits find the action busy and are skipped.
  connect(
      CountdownTimer, &QTimer::timeout, this, [this] { Guarded([this] { OnCountdownTick(); }); }, Qt::QueuedConnection);

  CountdownText->setObjectName(QStringLiteral("CountdownText"));
  CountdownText->hide();
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

void TaskWindow::FollowTransfers(net::HttpClient& client) {
  client.OnWorkBegin = [this](net::HttpClient&, net::WorkMode, std::int64_t total) { StartProgress(total); };
  client.OnWork = [this](net::HttpClient&, net::WorkMode, std::int64_t done) { ShowProgress(done); };
}

void TaskWindow::StartProgress(std::int64_t total) {
  constexpr std::int64_t kBarLimit = std::numeric_limits<int>::max();
  m_progressShift = 0;
  while ((total >> m_progressShift) > kBarLimit) ++m_progressShift;
  ProgressBar->setRange(0, static_cast<int>(std::max<std::int64_t>(total, 0) >> m_progressShift));
  ProgressBar->setValue(0);
}

void TaskWindow::ShowProgress(std::int64_t done) {
  ProgressBar->setValue(
      static_cast<int>(std::clamp<std::int64_t>(done >> m_progressShift, 0, ProgressBar->maximum())));
}

void TaskWindow::OnShown() { m_countdown.Arm(); }

void TaskWindow::OnCountdownTick() {}

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
  Guarded([this] { OnShown(); });
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
