#include "exchange/program_update_window.h"

#include "tests/support/loopback_server.h"
#include "tests/support/qt_fakes.h"
#include "net/pump_policy.h"
#include "ui/error_report.h"
#include "ui/locale_format.h"
#include "ui/pump.h"
#include "vextal_config.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Action;
using testsupport::OkResponse;

const QString kAlreadyCurrent = QStringLiteral("系统已经是最新版本了！");
const QString kUpdater = QStringLiteral("Upgrading.exe");

// Stands in for the main window, whose close handler ends the process.
class ClosingWindow : public QWidget {
 public:
  int closes = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++closes;
    QWidget::closeEvent(event);
  }
};

class ProgramUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mainWindow.show();
    window = std::make_unique<exchange::ProgramUpdateWindow>(&mainWindow);
    window->SetVersionServer(server.Url(""));
  }

  void ShowAndFire() {
    window->show();
    fakes.clock.AdvanceMs(1500);
    ui::Guarded([this] { window->OnCountdownTick(); });
  }

  testsupport::InstalledFakes fakes;
  testsupport::LoopbackServer server;
  ClosingWindow mainWindow;
  std::unique_ptr<exchange::ProgramUpdateWindow> window;
};

TEST_F(ProgramUpdateTest, OnlyTheExactVersionTextKeepsTheProgram) {
  const std::string running = vextal::kVersionText;
  struct Case {
    const char* label;
    std::string page;
    bool current;
    bool updaterMissing = false;
    // A page in the version's place (a login portal's) fails the check as a failed request does: reported, the
    // countdown left for the repeat, the program kept.
    bool noVersion = false;
  };
  const std::vector<Case> cases = {
      {"same version", running, true},
      {"trailing line break", running + "\r\n", false},
      {"leading blank", " " + running, false},
      {"empty page", "", false},
      {"newer version", running + ".1", false},
      // No dead end: the user learns where the new version is, and the program stays.
      {"newer version, no updater installed", running + ".1", false, true},
      {"as long as a version may be", std::string(32, '9'), false},
      {"login page", "<html><body>login</body></html>", false, false, true},
      {"a byte longer than a version", std::string(33, '9'), false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fakes.dialogs.messages.clear();
    fakes.processes.started.clear();
    mainWindow.closes = 0;
    mainWindow.show();
    fakes.processes.missing = c.updaterMissing ? QStringList{kUpdater} : QStringList{};
    window->hide();
    server.Enqueue({Action::Send(OkResponse(c.page))});

    ShowAndFire();

    const std::string request = server.Requests().back();
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /vextal.asp HTTP/1.1");
    if (c.noVersion) {
      EXPECT_EQ(fakes.dialogs.errors, QStringList{QStringLiteral("网络需要登录或拦截了下载.")});
      fakes.dialogs.errors.clear();
      EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
      EXPECT_TRUE(fakes.processes.started.isEmpty());
      EXPECT_EQ(mainWindow.closes, 0);
      EXPECT_TRUE(window->isVisible());
      EXPECT_TRUE(window->CountdownTimer->isActive());
      continue;
    }
    EXPECT_TRUE(fakes.dialogs.errors.isEmpty());
    EXPECT_FALSE(window->CountdownTimer->isActive());
    if (c.current) {
      EXPECT_EQ(fakes.dialogs.messages, QStringList{kAlreadyCurrent});
      EXPECT_FALSE(window->isVisible());
      EXPECT_TRUE(fakes.processes.started.isEmpty());
      EXPECT_EQ(mainWindow.closes, 0);
      EXPECT_TRUE(mainWindow.isVisible());
    } else if (c.updaterMissing) {
      EXPECT_EQ(fakes.dialogs.messages, QStringList{"软件有了新版本，但没有找到升级程序 Upgrading.exe。请到 " +
                                                    QString::fromUtf8(vextal::kPublisherUrl) + " 下载新版本，手动安装。"});
      EXPECT_FALSE(window->isVisible());
      EXPECT_TRUE(fakes.processes.started.isEmpty());
      EXPECT_EQ(mainWindow.closes, 0);
      EXPECT_TRUE(mainWindow.isVisible());
    } else {
      EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
      EXPECT_EQ(fakes.processes.started, QStringList{kUpdater});
      EXPECT_EQ(mainWindow.closes, 1);
      EXPECT_FALSE(mainWindow.isVisible());
    }
  }
}

TEST_F(ProgramUpdateTest, FailedRequestIsReportedAndTriedAgainAtTheRepeat) {
  server.Enqueue({Action::Reset()});
  ShowAndFire();

  EXPECT_EQ(fakes.dialogs.errors.size(), 1);
  EXPECT_TRUE(fakes.processes.started.isEmpty());
  EXPECT_EQ(mainWindow.closes, 0);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->CountdownTimer->isActive());

  server.Enqueue({Action::Send(OkResponse(std::string(vextal::kVersionText) + ".1"))});
  fakes.clock.AdvanceMs(57000);  // 58.5 s after the show
  ui::Guarded([this] { window->OnCountdownTick(); });

  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(fakes.processes.started, QStringList{kUpdater});
  EXPECT_EQ(mainWindow.closes, 1);
}

// Each look at the clock is one second later, so every tick writes a new reading.
class SteppingClock : public ui::Clock {
 public:
  QDateTime Now() const override {
    m_now = m_now.addSecs(1);
    return m_now;
  }

 private:
  mutable QDateTime m_now = QDateTime(QDate(2009, 3, 2), QTime(10, 0, 0));
};

TEST_F(ProgramUpdateTest, VisibleCountdownRunsOnWhileTheRequestWaitsAndStopsWithIt) {
  SteppingClock clock;
  ui::SetClock(&clock);
  ui::InstallPumpDispatcher();
  // The server answers once the countdown has gone on to the next reading while the request waits.
  server.Enqueue({Action::AwaitRelease(), Action::Send(OkResponse(vextal::kVersionText))});
  const QString nextReading = QTime(0, 0, 27).toString(ui::LongTimeFormat());
  QStringList readings;
  QObject::connect(window->CountdownText, &QLineEdit::textChanged, [&](const QString& text) {
    readings << text;
    if (text == nextReading) server.Release();
  });
  qsizetype readingsAtMessage = -1;
  fakes.dialogs.whileOpen = [&](const QString&) { readingsAtMessage = readings.size(); };

  window->show();
  window->CountdownTimer->setInterval(20);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !fakes.dialogs.messages.isEmpty(); }, 5000));
  QTest::qWait(100);
  net::SetPumpDispatcher({});
  ui::SetClock(&fakes.clock);

  // Ticks kept coming while the request waited; they found the action busy and asked nothing more.
  EXPECT_TRUE(readings.contains(nextReading)) << readings.join(' ').toStdString();
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(fakes.dialogs.messages, QStringList{kAlreadyCurrent});
  // A tick still queued when the action stopped the timer writes nothing and fires nothing.
  EXPECT_EQ(readings.size(), readingsAtMessage);
  EXPECT_FALSE(window->CountdownTimer->isActive());
}

}  // namespace
