#pragma once

#include "net/pump_policy.h"
#include "ui/retry_pause.h"
#include "ui/transfer_text.h"
#include "updater/update_sequence.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

namespace updater {

// The updater's window ("更新程序"): watches the update sequence, showing its step, the installer's transfer and the
// next try, its messages as dialogs, and offers "取消" throughout.
class UpdaterWindow : public QWidget, public SequenceWatcher {
  Q_OBJECT

 public:
  UpdaterWindow(UpdaterSettings settings, Launcher& launcher);
  ~UpdaterWindow() override;

  // Shows the window and runs the sequence; returns when the updater may end.
  UpdateResult Run();

  // Waits `ms` before the next look at a lock or the next try of the download; false when the wait was cut short.
  // Tests replace it to record the pauses instead of sleeping them, or to act inside them.
  using PauseFunction = std::function<bool(int ms)>;
  void SetPause(PauseFunction pause) { m_pause = std::move(pause); }

  // "取消" and closing the window.
  void Cancel();

  QString StatusText() const;
  QString TransferText() const;
  net::HttpClient& Client() { return m_sequence.Client(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void StepBegins(const std::string& status) override;
  void TransferBegins(std::int64_t received, std::int64_t total) override;
  void TransferGoesOn(std::int64_t received) override;
  void Note(const std::string& text) override;
  void Tell(const std::string& message) override;
  bool Pause(int ms) override;
  void Serve() override;
  platform::WindowHandle WindowToBringForward() override;

  bool RealPause(int ms);
  void ShowBar(std::int64_t received);

  QLabel* const m_status;
  QProgressBar* const m_bar;
  QLabel* const m_transferLabel;
  QPushButton* const m_cancelButton;
  // The window and its button stay alive during every wait of a transfer, not only the idle ones.
  net::PumpPolicy m_pump;
  ui::TransferText m_transferText;
  UpdateSequence m_sequence;
  PauseFunction m_pause;
  ui::RetryPause m_retryPause;
  bool m_running = false;
  std::int64_t m_total = -1;
};

}  // namespace updater
