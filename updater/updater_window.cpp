#include "updater/updater_window.h"

#include "platform/window_show.h"
#include "ui/seams.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace updater {
namespace {

constexpr const char* kCaption = "更新程序";
constexpr int kWindowWidth = 460;
constexpr const char* kCancelCaption = "取消";
constexpr int kBarSteps = 1000;

}  // namespace

UpdaterWindow::UpdaterWindow(UpdaterSettings settings, Launcher& launcher)
    : m_status(new QLabel(this)),
      m_bar(new QProgressBar(this)),
      m_transferLabel(new QLabel(this)),
      m_cancelButton(new QPushButton(QString::fromUtf8(kCancelCaption), this)),
      m_transferText(m_transferLabel, m_bar, [] { return QDateTime::currentMSecsSinceEpoch(); }),
      m_sequence(std::move(settings), launcher, *this) {
  setWindowTitle(QString::fromUtf8(kCaption));
  setFixedWidth(kWindowWidth);
  m_status->setObjectName(QStringLiteral("StatusText"));
  m_bar->setObjectName(QStringLiteral("ProgressBar"));
  m_bar->setRange(0, kBarSteps);
  m_bar->setValue(0);
  m_bar->setTextVisible(false);
  m_transferLabel->setObjectName(QStringLiteral("TransferText"));
  m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_status);
  layout->addWidget(m_bar);
  auto* bottom = new QHBoxLayout();
  bottom->addWidget(m_transferLabel, 1);
  bottom->addWidget(m_cancelButton);
  layout->addLayout(bottom);
  connect(m_cancelButton, &QPushButton::clicked, this, &UpdaterWindow::Cancel);
  m_pump.SetOnlyWhenIdle(false);
  m_pause = [this](int ms) { return RealPause(ms); };
}

UpdaterWindow::~UpdaterWindow() = default;

QString UpdaterWindow::StatusText() const { return m_status->text(); }
QString UpdaterWindow::TransferText() const { return m_transferText.Text(); }

void UpdaterWindow::Cancel() {
  m_sequence.Cancel();
  m_retryPause.End();
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
  // Closing the window is a cancel; the road itself decides when the program ends.
  if (m_running) {
    Cancel();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

UpdateResult UpdaterWindow::Run() {
  m_running = true;
  show();
  platform::ShowForReal(reinterpret_cast<platform::WindowHandle>(winId()));
  // Lets the window paint itself before the first wait.
  QCoreApplication::processEvents();
  const UpdateResult result = m_sequence.Run();
  m_running = false;
  return result;
}

void UpdaterWindow::StepBegins(const std::string& status) {
  m_status->setText(QString::fromStdString(status));
  m_transferText.Show(QString());
  m_bar->setValue(0);
}

void UpdaterWindow::TransferBegins(std::int64_t received, std::int64_t total) {
  m_total = total;
  ShowBar(received);
  m_transferText.Start(received, total);
}

void UpdaterWindow::TransferGoesOn(std::int64_t received) {
  ShowBar(received);
  m_transferText.Update(received);
}

void UpdaterWindow::Note(const std::string& text) { m_transferText.Show(QString::fromStdString(text)); }

void UpdaterWindow::Tell(const std::string& message) { ui::dialogs().ShowMessage(QString::fromStdString(message)); }

bool UpdaterWindow::Pause(int ms) { return m_pause(ms); }

void UpdaterWindow::Serve() { QCoreApplication::processEvents(); }

platform::WindowHandle UpdaterWindow::WindowToBringForward() {
  return reinterpret_cast<platform::WindowHandle>(winId());
}

bool UpdaterWindow::RealPause(int ms) {
  if (m_sequence.Cancelled()) return false;
  return m_retryPause.Wait(ms) && !m_sequence.Cancelled();
}

void UpdaterWindow::ShowBar(std::int64_t received) {
  if (m_total > 0) m_bar->setValue(static_cast<int>(received * kBarSteps / m_total));
}

}  // namespace updater
