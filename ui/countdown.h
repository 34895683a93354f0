#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

class QLineEdit;
class QTimer;

// The countdown trigger every network window uses: armed on show, ticked once a second by the window's CountdownTimer,
// it writes the remaining time into the window's countdown field in the user's long time format and fires the window's
// action at trigger readings. The firing is decided from the time a reading stands for, never from its text, so a
// 12-hour clock ("12:00:28 AM") or another separator fires at the same moments. Windows never start network work from
// the show itself, and the same readings recur 55/58 s after show and again a day later while the timer still runs.
//
// A reading holds for one second and the ticks are queued timer events, so a busy machine (Wine starting up under load)
// can deliver the one tick meant for a reading after the reading is over. Firing only when a tick lands inside the
// reading would then postpone the main window's checks, or a task window's action, by some 50 s to the repeat. So a
// tick fires every trigger reading the count entered since the previous tick (or since the arming), and each entry
// fires at most once: a second tick inside the same reading, or a second look from another code path, finds it spent.
// A reading entered while the window's action runs may still fire once the action has returned, but only until the next
// tick: firings are never saved up, or an action that outlasted its repeat would run again after it.
//
// Wiring, for a window author:
//   constructor:  m_countdown(CountdownTimer, CountdownText);
//                 connect(&CountdownTimer, &QTimer::timeout, this, &Window::OnCountdownTick);
//   OnShown:     m_countdown.ArmOnShow(wasVisible);   // or Arm() when the show path already skips visible windows
//   OnCountdownTick:  m_countdown.Tick();
//                 if (m_countdown.Fires(ui::kReading28)) {
//                   ui::CountdownTrigger::ActionScope running(m_countdown);
//                   ... the request ...
//                 }
//   stopping:     m_countdown.Stop() (or CountdownTimer.stop(); they are the same thing)
namespace ui {

// The countdown starts from 30 seconds after the show.
inline constexpr qint64 kCountdownStartMs = 30'000;
inline constexpr int kCountdownPeriodMs = 1000;
// The trigger readings, in seconds of countdown: every window's action at 28, the main window's new-paper check at 25.
inline constexpr int kReading28 = 28;
inline constexpr int kReading25 = 25;

// The reading for a remaining time, in seconds: its magnitude as a time of day (so past zero the count goes up again,
// and after a day it wraps), with the fraction of a second dropped.
int ReadingSeconds(qint64 remainingMs);
// That reading rendered with the given QTime format.
QString FormatReading(qint64 remainingMs, const QString& longTimeFormat);

class CountdownTrigger {
 public:
  using NowSource = std::function<QDateTime()>;

  // The window keeps the timer and the field; both must outlive the trigger (they are members of the same window).
  // `now` defaults to the clock seam (ui::clock()), asked on every tick so a test may swap it at any time.
  // `longTimeFormat` defaults to the user's long time format, read once here.
  CountdownTrigger(QTimer& timer, QLineEdit& field, NowSource now = {}, QString longTimeFormat = {});

  CountdownTrigger(const CountdownTrigger&) = delete;
  CountdownTrigger& operator=(const CountdownTrigger&) = delete;

  // Stops the timer, takes the start instant and starts the timer again: a second show after a stop counts afresh.
  void Arm();
  // The show path: a window that was already visible keeps its running count. Returns whether it armed.
  bool ArmOnShow(bool wasVisible);
  void Stop();
  bool Running() const;

  // One timer tick: writes the current reading into the countdown field (nothing once the timer is stopped).
  void Tick();
  // The field as the user sees it, trimmed.
  QString Reading() const;
  // True when the timer runs, no action of this window is running and the last tick entered the reading `seconds`
  // (landed in it, or passed it since the tick before) without that entry having fired yet. A true answer spends the
  // entry. Asked anew on each call, so a handler that tests a second reading after its first action sees what nested
  // ticks brought meanwhile.
  bool Fires(int seconds);

  // While an action of this window runs (its request pumps the event queue, so ticks keep arriving), further firings
  // are skipped rather than starting a second request on the window's one HTTP client. Scope the request, not a
  // message shown after it: the main window's new-paper check must still run while the version message is open.
  bool Busy() const { return m_busy; }

  class ActionScope {
   public:
    explicit ActionScope(CountdownTrigger& trigger);
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

   private:
    CountdownTrigger& m_trigger;
    bool m_wasBusy;
  };

  QDateTime StartInstant() const { return m_start; }
  const QString& LongTimeFormatInUse() const { return m_longTimeFormat; }

 private:
  QDateTime Now() const;

  QTimer& m_timer;
  QLineEdit& m_field;
  NowSource m_now;
  QString m_longTimeFormat;
  QDateTime m_start;
  // The remaining time at the tick before the last (at the arming for the first tick) and at the last tick; the
  // readings entered between them are the ones the last tick may fire.
  qint64 m_previousRemainingMs = kCountdownStartMs;
  qint64 m_remainingMs = kCountdownStartMs;
  bool m_ticked = false;
  // The readings the last tick has fired already.
  std::vector<int> m_fired;
  bool m_busy = false;
};

}  // namespace ui
