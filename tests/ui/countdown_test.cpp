#include "ui/countdown.h"

#include "ui/locale_format.h"
#include "ui/seams.h"

#include <QLineEdit>
#include <QTime>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

constexpr qint64 kDayMs = 24LL * 60 * 60 * 1000;

// A window's countdown parts with a clock the test moves by hand.
struct Countdown {
  explicit Countdown(const QString& format = QStringLiteral("H:mm:ss"))
      : trigger(timer, field, [this] { return now; }, format) {}

  void At(qint64 elapsedMs) { now = start.addMSecs(elapsedMs); }
  void Show() {
    now = start;
    trigger.Arm();
  }

  QDateTime start = QDateTime(QDate(2026, 12, 8), QTime(9, 15, 0, 250));
  QDateTime now = start;
  QTimer timer;
  QLineEdit field;
  ui::CountdownTrigger trigger;
};

// Which trigger reading a tick at each elapsed time lands on, in a one-digit-hour and a two-digit-hour format.
TEST(CountdownTrigger, FiresOnlyWhileATriggerReadingHolds) {
  struct Case {
    qint64 elapsedMs;
    int fires;  // 28, 25 or 0
    const char* oneDigit;
  };
  const Case cases[] = {
      {0, 0, "0:00:30"},
      {1000, 0, "0:00:29"},
      {1001, 28, "0:00:28"},
      {1500, 28, "0:00:28"},
      {2000, 28, "0:00:28"},
      {2001, 0, "0:00:27"},
      {4000, 0, "0:00:26"},
      {4001, 25, "0:00:25"},
      {5000, 25, "0:00:25"},
      {5001, 0, "0:00:24"},
      {30000, 0, "0:00:00"},
      {32000, 0, "0:00:02"},
      {54999, 0, "0:00:24"},
      {55000, 25, "0:00:25"},
      {55999, 25, "0:00:25"},
      {56000, 0, "0:00:26"},
      {57999, 0, "0:00:27"},
      {58000, 28, "0:00:28"},
      {58999, 28, "0:00:28"},
      {59000, 0, "0:00:29"},
      {60 * 60 * 1000, 0, "0:59:30"},
      {kDayMs - 1, 0, "23:59:29"},
      {kDayMs + 2000, 0, "23:59:32"},
      {kDayMs + 5000, 0, "23:59:35"},
      {kDayMs + 55500, 25, "0:00:25"},
      {kDayMs + 58500, 28, "0:00:28"},
  };
  // The user's long time format only decides what the field shows: "h:mm:ss tt" (English Windows), "tt hh:mm:ss"
  // (zh-TW) and "H.mm.ss" read differently, and fire at the same moments.
  for (const char* format : {"H:mm:ss", "HH:mm:ss", "h:mm:ss AP", "AP hh:mm:ss", "H.mm.ss"}) {
    Countdown c{QString::fromLatin1(format)};
    c.Show();
    for (const Case& tc : cases) {
      SCOPED_TRACE(testing::Message() << format << " at " << tc.elapsedMs << " ms");
      c.At(tc.elapsedMs);
      c.trigger.Tick();
      const QTime reading = QTime::fromString(QString::fromLatin1(tc.oneDigit), QStringLiteral("H:mm:ss"));
      EXPECT_EQ(c.field.text(), reading.toString(QString::fromLatin1(format)));
      EXPECT_EQ(c.trigger.Fires(ui::kReading28), tc.fires == 28);
      EXPECT_EQ(c.trigger.Fires(ui::kReading25), tc.fires == 25);
    }
  }
}

// The elapsed times at which a window's handler would act, for a series of ticks.
std::vector<qint64> Firings(Countdown& c, const std::vector<qint64>& ticks, int reading) {
  std::vector<qint64> fired;
  for (qint64 t : ticks) {
    c.At(t);
    c.trigger.Tick();
    if (c.trigger.Fires(reading)) {
      fired.push_back(t);
    }
  }
  return fired;
}

std::vector<qint64> TicksEverySecond(qint64 first, qint64 last) {
  std::vector<qint64> ticks;
  for (qint64 t = first; t <= last; t += 1000) {
    ticks.push_back(t);
  }
  return ticks;
}

TEST(CountdownTrigger, OnTimeTicksFireOnceAndRepeatOnceInTheFirstMinutes) {
  struct Case {
    const char* label;
    std::vector<qint64> ticks;
    int reading;
    std::vector<qint64> expected;
  };
  std::vector<qint64> late = {1000};
  for (qint64 t : TicksEverySecond(2100, 10 * 60 * 1000)) {
    late.push_back(t);
  }
  const Case cases[] = {
      {"punctual ticks, 28", TicksEverySecond(1050, 10 * 60 * 1000), ui::kReading28, {1050, 58050}},
      {"punctual ticks, 25", TicksEverySecond(1050, 10 * 60 * 1000), ui::kReading25, {4050, 55050}},
      {"ticks at the second's edge, 28", TicksEverySecond(1000, 10 * 60 * 1000), ui::kReading28, {2000, 58000}},
      {"a late tick skips the first run", late, ui::kReading28, {58100}},
      {"the late tick does not touch the 25 reading", late, ui::kReading25, {4100, 55100}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.label);
    Countdown c;
    c.Show();
    EXPECT_EQ(Firings(c, tc.ticks, tc.reading), tc.expected);
  }
}

TEST(CountdownTrigger, ArmsOnlyOnAFreshShow) {
  Countdown c;
  EXPECT_FALSE(c.timer.isActive()) << "a window never shown does not tick";
  c.trigger.Tick();
  EXPECT_TRUE(c.field.text().isEmpty());
  EXPECT_EQ(c.timer.interval(), ui::kCountdownPeriodMs);

  EXPECT_TRUE(c.trigger.ArmOnShow(false));
  EXPECT_TRUE(c.timer.isActive());
  EXPECT_EQ(c.trigger.StartInstant(), c.start);

  // Showing the visible window again keeps the running count.
  c.At(1500);
  EXPECT_FALSE(c.trigger.ArmOnShow(true));
  EXPECT_EQ(c.trigger.StartInstant(), c.start);
  c.trigger.Tick();
  EXPECT_TRUE(c.trigger.Fires(ui::kReading28));

  // After the action stopped the timer, the next show counts afresh from that show.
  c.trigger.Stop();
  EXPECT_FALSE(c.trigger.Running());
  c.At(10 * 60 * 1000);
  EXPECT_TRUE(c.trigger.ArmOnShow(false));
  EXPECT_TRUE(c.trigger.Running());
  EXPECT_EQ(c.trigger.StartInstant(), c.now);
  c.At(10 * 60 * 1000 + 1500);
  c.trigger.Tick();
  EXPECT_EQ(c.trigger.Reading(), QStringLiteral("0:00:28"));
  EXPECT_TRUE(c.trigger.Fires(ui::kReading28));
}

// Windows construct their trigger without a clock of their own; it follows whatever clock seam is in force.
TEST(CountdownTrigger, DefaultsToTheClockSeam) {
  struct FakeClock : ui::Clock {
    QDateTime Now() const override { return now; }
    QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59));
  } fake;
  ui::SetClock(&fake);
  QTimer timer;
  QLineEdit field;
  ui::CountdownTrigger trigger(timer, field);
  trigger.Arm();
  fake.now = fake.now.addMSecs(4500);
  trigger.Tick();
  ui::SetClock(nullptr);
  // In the user's own long time format: "12:00:25 AM" on an English Windows.
  EXPECT_EQ(trigger.Reading(), QTime(0, 0, 25).toString(ui::LongTimeFormat()));
  EXPECT_EQ(trigger.LongTimeFormatInUse(), ui::LongTimeFormat());
}

TEST(CountdownTrigger, FiresFromTheTimeAReadingStandsForNotFromItsText) {
  Countdown c;
  c.Show();
  c.At(1500);
  c.trigger.Tick();
  c.field.setText(QStringLiteral("12:00:28 AM"));
  EXPECT_TRUE(c.trigger.Fires(ui::kReading28));
  c.field.clear();
  EXPECT_TRUE(c.trigger.Fires(ui::kReading28));
  EXPECT_FALSE(c.trigger.Fires(ui::kReading25));
  // A fresh show forgets the reading of the last run until its first tick.
  c.trigger.Arm();
  EXPECT_FALSE(c.trigger.Fires(ui::kReading28));
}

// A window handler as the windows write it; `request` stands for the network wait, which may pump nested ticks.
struct Window {
  explicit Window(Countdown& countdown) : c(countdown) {}

  void OnCountdownTick() {
    c.trigger.Tick();
    if (c.trigger.Fires(ui::kReading28)) {
      ui::CountdownTrigger::ActionScope running(c.trigger);
      requests.push_back(28);
      if (request28) request28();
    }
    if (c.trigger.Fires(ui::kReading25)) {
      ui::CountdownTrigger::ActionScope running(c.trigger);
      requests.push_back(25);
    }
  }

  Countdown& c;
  std::function<void()> request28;
  std::vector<int> requests;
};

TEST(CountdownTrigger, HoldsBackFiringsWhileTheWindowsActionRuns) {
  struct Case {
    const char* label;
    std::vector<qint64> nestedTicks;  // elapsed times of ticks the pump dispatches during the 28 request
    qint64 returnAt;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"quick answer: one request", {}, 1600, {28}},
      {"a second tick in the same reading is skipped", {1800}, 1900, {28}},
      {"25 reached during the wait runs after it returns", {2500, 3500, 4500}, 4800, {28, 25}},
      {"25 passed during the wait is skipped", {2500, 3500, 4500, 5500}, 5800, {28}},
      {"a wait past the repeat never doubles the request", TicksEverySecond(2500, 60500), 60800, {28}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.label);
    Countdown c;
    Window w(c);
    c.Show();
    w.request28 = [&] {
      for (qint64 t : tc.nestedTicks) {
        c.At(t);
        w.OnCountdownTick();
      }
      c.At(tc.returnAt);
    };
    c.At(1500);
    w.OnCountdownTick();
    EXPECT_EQ(w.requests, tc.expected);
    EXPECT_FALSE(c.trigger.Busy());
  }
}

TEST(CountdownTrigger, AFailedActionReleasesTheWindow) {
  Countdown c;
  c.Show();
  c.At(1500);
  c.trigger.Tick();
  try {
    ui::CountdownTrigger::ActionScope running(c.trigger);
    EXPECT_FALSE(c.trigger.Fires(ui::kReading28));
    throw std::runtime_error("connection refused");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(c.trigger.Busy());
  EXPECT_TRUE(c.trigger.Fires(ui::kReading28)) << "the repeat reading must be able to run the action again";
}

TEST(CountdownReading, FormatsTheMagnitudeAsATimeOfDay) {
  struct Case {
    qint64 remainingMs;
    const char* format;
    const char* expected;
  };
  const Case cases[] = {
      {28999, "H:mm:ss", "0:00:28"},
      {28000, "HH:mm:ss", "00:00:28"},
      {-28999, "H:mm:ss", "0:00:28"},
      {-999, "H:mm:ss", "0:00:00"},
      {-(kDayMs + 25500), "H:mm:ss", "0:00:25"},
      {-(10 * 3600 * 1000LL + 28000), "H:mm:ss", "10:00:28"},
      {28000, "h:mm:ss AP", "12:00:28 AM"},
      {std::numeric_limits<qint64>::min(), "H:mm:ss", "7:12:55"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.remainingMs);
    EXPECT_EQ(ui::FormatReading(tc.remainingMs, QString::fromLatin1(tc.format)), QString::fromLatin1(tc.expected));
  }
}

}  // namespace
