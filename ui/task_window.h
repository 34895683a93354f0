#pragma once

#include "net/http_client.h"
#include "net/pump_policy.h"
#include "ui/countdown.h"

#include <QSize>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class QKeyEvent;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTimer;

namespace ui {

// What the three task windows share: a borderless, always-on-top strip with a progress bar along its top, a
// countdown timer with its text field, and one PumpPolicy created with the window. It is placed at the centre of the
// main window when first shown and keeps that place afterwards, as the user may have dragged the main window since.
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

  // The bar follows every body this client transfers: it starts over at each one and shows the bytes received.
  void FollowTransfers(net::HttpClient& client);
  // The bar over a transfer of `total` bytes (none known: zero or less). QProgressBar counts in int, so a total
  // beyond that range is shown in coarser steps; a count beyond the total stops the bar at its end.
  void StartProgress(std::int64_t total);
  void ShowProgress(std::int64_t done);

  QProgressBar* const ProgressBar;
  QTimer* const CountdownTimer;
  // The countdown text field; hidden unless a window shows its reading.
  QLineEdit* const CountdownText;
  // "取消" at the strip's right end, in a window that offers it (OfferCancel); it shows only while a CancelScope lives.
  QPushButton* const CancelButton;
  net::PumpPolicy Pump;

 protected:
  // For as long as it lives, "取消" shows and its click and Escape call `cancel`, which ends the request or wait under
  // way (HttpClient::Cancel ends a get within one pump slice); Escape then no longer puts the strip away.
  class CancelScope {
   public:
    CancelScope(TaskWindow& window, std::function<void()> cancel);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

   private:
    TaskWindow& m_window;
  };

  // Gives the bar's right end to "取消": called once, by the constructor of a window whose request the user may end.
  void OfferCancel();

  // Runs on every real show (showing a window that is already visible does not get here): arms the countdown.
  virtual void OnShown();
  // Once a second while the countdown runs.
  virtual void OnCountdownTick();

  void showEvent(QShowEvent* event) override;
  // Escape puts away a strip whose action is not running: it has no border or close box of its own. While a
  // CancelScope lives it cancels instead.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CentreOnMainWindow();

  QWidget* m_mainWindow;
  bool m_placed = false;
  // Byte counts are shifted right by this many bits to fit the bar's int range.
  int m_progressShift = 0;
  CountdownTrigger m_countdown;
  // What "取消" and Escape call while a CancelScope lives; empty otherwise.
  std::function<void()> m_cancel;
};

}  // namespace ui
