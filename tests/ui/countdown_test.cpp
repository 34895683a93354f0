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
#include <string>
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

// One tick after another, each landing at its elapsed time: what the field shows and which trigger reading fires.
TEST(CountdownTrigger, FiresEachTriggerReadingOnceAsTheCountEntersIt) {
  struct Case {
    qint64 elapsedMs;
    int fires;  // 28, 25 or 0
    const char* oneDigit;
    const char* twelveHour;
  };
  const Case cases[] = {
      {0, 0, "0:00:30", "12:00:30 AM"},
      {1000, 0, "0:00:29", "12:00:29 AM"},
      {1001, 28, "0:00:28", "12:00:28 AM"},
      {1500, 0, "0:00:28", "12:00:28 AM"},  // the same reading again: spent
      {2000, 0, "0:00:28", "12:00:28 AM"},
      {2001, 0, "0:00:27", "12:00:27 AM"},
      {4000, 0, "0:00:26", "12:00:26 AM"},
      {4001, 25, "0:00:25", "12:00:25 AM"},
      {5000, 0, "0:00:25", "12:00:25 AM"},
      {5001, 0, "0:00:24", "12:00:24 AM"},
      {30000, 0, "0:00:00", "12:00:00 AM"},
      {32000, 0, "0:00:02", "12:00:02 AM"},
      {54999, 0, "0:00:24", "12:00:24 AM"},
      {55000, 25, "0:00:25", "12:00:25 AM"},
      {55999, 0, "0:00:25", "12:00:25 AM"},
      {56000, 0, "0:00:26", "12:00:26 AM"},
      {57999, 0, "0:00:27", "12:00:27 AM"},
      {58000, 28, "0:00:28", "12:00:28 AM"},
      {58999, 0, "0:00:28", "12:00:28 AM"},
      {59000, 0, "0:00:29", "12:00:29 AM"},
      {60 * 60 * 1000, 0, "0:59:30", "12:59:30 AM"},
      {kDayMs - 1, 0, "23:59:29", "11:59:29 PM"},
      {kDayMs + 2000, 0, "23:59:32", "11:59:32 PM"},
      {kDayMs + 5000, 0, "23:59:35", "11:59:35 PM"},
      {kDayMs + 55500, 25, "0:00:25", "12:00:25 AM"},
      {kDayMs + 58500, 28, "0:00:28", "12:00:28 AM"},
  };
  // The user's long time format only decides what the field shows: a 12-hour clock fires at the same moments.
  struct Format {
    const char* format;
    const char* Case::*expected;
  };
  for (const Format& f : {Format{"H:mm:ss", &Case::oneDigit}, Format{"h:mm:ss AP", &Case::twelveHour}}) {
    Countdown c{QString::fromLatin1(f.format)};
    c.Show();
    for (const Case& tc : cases) {
      SCOPED_TRACE(testing::Message() << f.format << " at " << tc.elapsedMs << " ms");
      c.At(tc.elapsedMs);
      c.trigger.Tick();
      EXPECT_EQ(c.field.text(), QString::fromLatin1(tc.*f.expected));
      EXPECT_EQ(c.trigger.Fires(ui::kReading28), tc.fires == 28);
      EXPECT_EQ(c.trigger.Fires(ui::kReading25), tc.fires == 25);
    }
  }
}

// What a window's handler would act on for a series of ticks, as "reading@ms". Every tick asks each reading twice, as
// two code paths of one handler may: an entry fires once.
std::vector<std::string> Firings(Countdown& c, const std::vector<qint64>& ticks) {
  std::vector<std::string> fired;
  for (qint64 t : ticks) {
    c.At(t);
    c.trigger.Tick();
    for (int reading : {ui::kReading28, ui::kReading28, ui::kReading25, ui::kReading25}) {
      if (c.trigger.Fires(reading)) {
        fired.push_back(std::to_string(reading) + "@" + std::to_string(t));
      }
    }
  }
  return fired;
}

std::vector<qint64> TicksEvery(qint64 periodMs, qint64 first, qint64 last) {
  std::vector<qint64> ticks;
  for (qint64 t = first; t <= last; t += periodMs) {
    ticks.push_back(t);
  }
  return ticks;
}

std::vector<qint64> Joined(std::vector<qint64> head, const std::vector<qint64>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(CountdownTrigger, EachReadingFiresOncePerSpanHoweverLateTheTicksCome) {
  constexpr qint64 kTenMinutesMs = 10 * 60 * 1000;
  struct Case {
    const char* label;
    std::vector<qint64> ticks;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"punctual ticks", TicksEvery(1000, 1050, kTenMinutesMs), {"28@1050", "25@4050", "25@55050", "28@58050"}},
      {"ticks at the second's edge", TicksEvery(1000, 1000, kTenMinutesMs),
       {"28@2000", "25@5000", "25@55000", "28@58000"}},
      {"ticks 1.6 s apart", TicksEvery(1600, 900, kTenMinutesMs), {"28@2500", "25@4100", "25@55300", "28@58500"}},
      {"ticks 2.7 s apart", TicksEvery(2700, 700, kTenMinutesMs), {"28@3400", "25@6100", "25@57400", "28@60100"}},
      {"ticks 2.7 s apart, a day on", TicksEvery(2700, 700, kDayMs + 61000),
       {"28@3400", "25@6100", "25@57400", "28@60100", "25@86457400", "28@86460100"}},
      {"a first tick after the 28 reading", Joined({1000}, TicksEvery(1000, 2100, kTenMinutesMs)),
       {"28@2100", "25@4100", "25@55100", "28@58100"}},
      {"one tick late past both readings", Joined({900}, TicksEvery(1000, 5200, kTenMinutesMs)),
       {"28@5200", "25@5200", "25@55200", "28@58200"}},
      {"one tick late past both repeats", Joined(TicksEvery(1000, 1050, 54050), TicksEvery(1000, 59500, kTenMinutesMs)),
       {"28@1050", "25@4050", "28@59500", "25@59500"}},
      {"a tick after the machine slept for days", {1500, 3 * kDayMs}, {"28@1500", "28@259200000", "25@259200000"}},
      {"a clock set back within a reading", {1500, 1200, 1900}, {"28@1500"}},
      {"a clock set back onto a reading", {1500, 4500, 1500}, {"28@1500", "25@4500", "28@1500"}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.label);
    Countdown c;
    c.Show();
    EXPECT_EQ(Firings(c, tc.ticks), tc.expected);
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
  // The seam's clock moved the count across midnight to its 25 reading, written in the user's own long time format,
  // whatever that is ("12:00:25 AM" on an English Windows).
  EXPECT_TRUE(trigger.Fires(ui::kReading25));
  EXPECT_TRUE(trigger.Reading().contains(QStringLiteral("25"))) << trigger.Reading().toStdString();
  EXPECT_EQ(trigger.LongTimeFormatInUse(), ui::LongTimeFormat());
}

TEST(CountdownTrigger, FiresFromTheTimeAReadingStandsForNotFromItsText) {
  Countdown c;
  c.Show();
  c.At(1500);
  c.trigger.Tick();
  c.field.setText(QStringLiteral("0:00:25"));
  EXPECT_FALSE(c.trigger.Fires(ui::kReading25));
  c.field.clear();
  EXPECT_TRUE(c.trigger.Fires(ui::kReading28));
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
      {"a wait past the repeat never doubles the request", TicksEvery(1000, 2500, 60500), 60800, {28}},
      {"25 entered by the wait's one late tick runs after it returns", {4200}, 4300, {28, 25}},
      {"25 entered by a late tick during the wait is not held for later", {4200, 6900}, 7000, {28}},
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
    // The next tick finds nothing left over from the wait.
    w.request28 = nullptr;
    c.At(tc.returnAt + 1000);
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
      {-25000, "AP hh:mm:ss", "AM 12:00:25"},
      {28000, "H.mm.ss", "0.00.28"},
      {std::numeric_limits<qint64>::min(), "H:mm:ss", "7:12:55"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.remainingMs);
    EXPECT_EQ(ui::FormatReading(tc.remainingMs, QString::fromLatin1(tc.format)), QString::fromLatin1(tc.expected));
  }
}

}  // namespace
