#include "ui/countdown.h"

#include "ui/locale_format.h"
#include "ui/seams.h"

#include <QLineEdit>
#include <QTime>
#include <QTimer>

#include <utility>

namespace ui {
namespace {

constexpr qint64 kMsPerSecond = 1000;
constexpr qint64 kMsPerDay = 24LL * 60 * 60 * kMsPerSecond;

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
  m_readingSeconds = -1;
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
  const qint64 remainingMs = kCountdownStartMs + Now().msecsTo(m_start);
  m_readingSeconds = ReadingSeconds(remainingMs);
  m_field.setText(FormatReading(remainingMs, m_longTimeFormat));
}

QString CountdownTrigger::Reading() const {
  return m_field.text().trimmed();
}

bool CountdownTrigger::Fires(int seconds) const {
  // Ticks are queued, so one may still be delivered after the action stopped the timer: it must not run the action.
  return Running() && !m_busy && m_readingSeconds == seconds;
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
