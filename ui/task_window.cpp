#include "ui/task_window.h"

#include "ui/error_report.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

namespace ui {
namespace {

// The bar takes the strip's width and most of its height; the rest is the window's own margin below it.
constexpr int kProgressBarBottomMargin = 8;
constexpr const char* kCancelCaption = "取消";
// The button's room at the bar's right end, a gap to its left included.
constexpr int kCancelRoomWidth = 72;
constexpr int kCancelGap = 6;
constexpr int kCancelButtonHeight = 26;

}  // namespace

TaskWindow::TaskWindow(const QString& caption, QSize clientSize, QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ProgressBar(new QProgressBar(this)),
      CountdownTimer(new QTimer(this)),
      CountdownText(new QLineEdit(this)),
      CancelButton(new QPushButton(QString::fromUtf8(kCancelCaption), this)),
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

  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->hide();
  connect(CancelButton, &QPushButton::clicked, this, [this] {
    if (m_cancel) m_cancel();
  });
}

TaskWindow::CancelScope::CancelScope(TaskWindow& window, std::function<void()> cancel) : m_window(window) {
  m_window.m_cancel = std::move(cancel);
  m_window.CancelButton->show();
}

TaskWindow::CancelScope::~CancelScope() {
  m_window.m_cancel = nullptr;
  m_window.CancelButton->hide();
}

void TaskWindow::OfferCancel() {
  const QRect bar = ProgressBar->geometry();
  const int room = bar.right() + 1 - kCancelRoomWidth;
  ProgressBar->setGeometry(bar.x(), bar.y(), room - bar.x(), bar.height());
  CancelButton->setGeometry(room + kCancelGap, bar.y() + (bar.height() - kCancelButtonHeight) / 2,
                            kCancelRoomWidth - kCancelGap, kCancelButtonHeight);
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
  if (event->key() == Qt::Key_Escape && m_cancel) {
    m_cancel();
    event->accept();
    return;
  }
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
