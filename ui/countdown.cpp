#include "ui/countdown.h"

#include "ui/locale_format.h"
#include "ui/seams.h"

#include <QLineEdit>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace ui {
namespace {

constexpr qint64 kMsPerSecond = 1000;
constexpr qint64 kSecondsPerDay = 24LL * 60 * 60;
constexpr qint64 kMsPerDay = kSecondsPerDay * kMsPerSecond;

// Whether [from, to) holds a time that falls on `timeOfDayMs` modulo a day. The width is taken unsigned, so even a
// clock that jumped by centuries cannot overflow it.
bool HoldsTimeOfDay(qint64 from, qint64 to, qint64 timeOfDayMs) {
  const quint64 width = static_cast<quint64>(to) - static_cast<quint64>(from);
  if (width >= static_cast<quint64>(kMsPerDay)) {
    return true;
  }
  qint64 offset = (timeOfDayMs - from % kMsPerDay) % kMsPerDay;
  if (offset < 0) {
    offset += kMsPerDay;
  }
  return static_cast<quint64>(offset) < width;
}

// Whether the count entered the reading `seconds` while its remaining time went from `fromMs` to `toMs`, the reading
// at `fromMs` itself excluded. Counting down, a reading begins at its last millisecond (28 999 ms already reads 28);
// past zero the count goes up and a reading begins at its first (-28 000 ms). The 0 reading spans zero: one entry.
bool Entered(int seconds, qint64 fromMs, qint64 toMs) {
  if (seconds < 0 || seconds >= kSecondsPerDay) {
    return false;
  }
  if (toMs > fromMs) {
    // The clock was set back: a reading the count lands on anew fires, one it only stepped back over does not.
    return ReadingSeconds(toMs) == seconds && ReadingSeconds(fromMs) != seconds;
  }
  const qint64 readingMs = seconds * kMsPerSecond;
  const qint64 countingDownFrom = std::max<qint64>(toMs, 1);
  if (countingDownFrom < fromMs && HoldsTimeOfDay(countingDownFrom, fromMs, readingMs + kMsPerSecond - 1)) {
    return true;
  }
  const qint64 countingUpTo = std::min<qint64>(fromMs, seconds == 0 ? 0 : 1);
  return toMs < countingUpTo && HoldsTimeOfDay(toMs, countingUpTo, -readingMs);
}

}  // namespace

int ReadingSeconds(qint64 remainingMs) {
  // Wrap to a day before taking the magnitude, so no remaining time, however far off, overflows the negation.
  const qint64 withinDay = remainingMs % kMsPerDay;
  const qint64 magnitude = withinDay < 0 ? -withinDay : withinDay;
  return static_cast<int>(magnitude / kMsPerSecond);
}

QString FormatReading(qint64 remainingMs, const QString& longTimeFormat) {
  return QTime(0, 0).addSecs(ReadingSeconds(remainingMs)).toString(longTimeFormat);
}

CountdownTrigger::CountdownTrigger(QTimer& timer, QLineEdit& field, NowSource now, QString longTimeFormat)
    : m_timer(timer),
      m_field(field),
      m_now(std::move(now)),
      m_longTimeFormat(longTimeFormat.isEmpty() ? LongTimeFormat() : std::move(longTimeFormat)) {
  m_timer.setInterval(kCountdownPeriodMs);
}

void CountdownTrigger::Arm() {
  m_timer.stop();
  m_start = Now();
  m_remainingMs = kCountdownStartMs;
  m_ticked = false;
  m_fired.clear();
  m_timer.start();
}

bool CountdownTrigger::ArmOnShow(bool wasVisible) {
  if (wasVisible) {
    return false;
  }
  Arm();
  return true;
}

void CountdownTrigger::Stop() {
  m_timer.stop();
}

bool CountdownTrigger::Running() const {
  return m_timer.isActive();
}

void CountdownTrigger::Tick() {
  // A tick can only come from an armed timer, but a direct call before the first show must not invent a reading, and
  // a queued tick delivered after the action stopped the timer must not write one either.
  if (!m_start.isValid() || !Running()) {
    return;
  }
  m_previousRemainingMs = m_remainingMs;
  m_remainingMs = kCountdownStartMs + Now().msecsTo(m_start);
  m_ticked = true;
  m_fired.clear();
  m_field.setText(FormatReading(m_remainingMs, m_longTimeFormat));
}

QString CountdownTrigger::Reading() const {
  return m_field.text().trimmed();
}

bool CountdownTrigger::Fires(int seconds) {
  // Ticks are queued, so one may still be delivered after the action stopped the timer: it must not run the action.
  if (!Running() || m_busy || !m_ticked || std::ranges::find(m_fired, seconds) != m_fired.end()) {
    return false;
  }
  if (!Entered(seconds, m_previousRemainingMs, m_remainingMs)) {
    return false;
  }
  m_fired.push_back(seconds);
  return true;
}

QDateTime CountdownTrigger::Now() const {
  return m_now ? m_now() : clock().Now();
}

CountdownTrigger::ActionScope::ActionScope(CountdownTrigger& trigger) : m_trigger(trigger), m_wasBusy(trigger.m_busy) {
  m_trigger.m_busy = true;
}

CountdownTrigger::ActionScope::~ActionScope() {
  m_trigger.m_busy = m_wasBusy;
}

}  // namespace ui
