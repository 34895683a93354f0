#include "app/main_window.h"

#include "tests/app/app_fixture.h"
#include "tests/support/loopback_server.h"
#include "ui/error_report.h"
#include "ui/pump.h"
#include "vextal_config.h"

#include <QLineEdit>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace {

using testsupport::Action;
using testsupport::Answer;
using testsupport::LoopbackServer;
using testsupport::OkResponse;

const QString kNewVersion = QStringLiteral("软件有了新版本，注意更新，点击\"更新软件\"！");
const QString kNewPapers = QStringLiteral("有新试卷了，请注意更新，点击\"更新题库\"！");
// Long enough that the real timer never ticks during a test: every tick comes from the test, at a faked time.
constexpr int kNoRealTickMs = 3600 * 1000;
// For the one test that lets the real timer tick.
constexpr int kFastTickMs = 10;
constexpr int kPollMs = 5;
constexpr int kSpinLimitMs = 5000;

// Messages as one readable line, so a failure prints text rather than UTF-16 units.
std::string Joined(const QStringList& texts) { return texts.join(QStringLiteral(" | ")).toStdString(); }

std::string FirstLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

// The main window shown at a fixed instant, its checks pointed at two loopback servers that answer from a script.
class BackgroundChecksTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    ui::InstallPumpDispatcher();
    form->CountdownTimer->setInterval(kNoRealTickMs);
    versionServer.SetHandler([this](const std::string&) { return Answer{Action::Send(OkResponse(version))}; });
    contentServer.SetHandler([this](const std::string&) { return Answer{Action::Send(OkResponse(newPapers))}; });
    form->SetServers(contentServer.Url(""), versionServer.Url(""));
    ShowAfresh();
  }

  void ShowAfresh() {
    form->hide();
    form->show();
    form->CountdownTimer->setInterval(kNoRealTickMs);
    shownAt = fakes.clock.now;
  }

  // One tick of the main window's timer, msAfterShow after the show, through the handler guard as the timer runs it.
  void TickAt(qint64 msAfterShow) {
    fakes.clock.now = shownAt.addMSecs(msAfterShow);
    ui::Guarded([this] { form->OnCountdownTick(); });
  }

  int VersionRequests() const { return static_cast<int>(versionServer.Requests().size()); }
  int NewPaperRequests() const { return static_cast<int>(contentServer.Requests().size()); }

  LoopbackServer versionServer;
  LoopbackServer contentServer;
  std::string version = vextal::kVersionText;
  std::string newPapers = "0";
  QDateTime shownAt;
};

TEST_F(BackgroundChecksTest, ChecksRunAtTheirReadingsAndRepeatOnceWhileNothingIsNew) {
  Insert("12", "申论", "公务员考试", "下载");
  struct Case {
    const char* label;
    qint64 firstTickMs;
    qint64 periodMs;
    std::vector<std::string> expected;  // "v@s" / "n@s": a version / new-paper request from the tick in second s
  };
  const Case cases[] = {
      {"punctual ticks", 500, 1000, {"v@1", "n@4", "n@55", "v@58"}},
      {"ticks right after the second", 1, 1000, {"v@1", "n@4", "n@55", "v@58"}},
      // The tick due at 1.05 s comes only at 2.05 s, when the field already reads 27: the 28 reading it passed runs
      // the version check then, not 56 s later at the repeat.
      {"one late tick", 2050, 1000, {"v@2", "n@4", "n@55", "v@58"}},
      // A loaded machine: every tick lands after the reading it was meant for.
      {"ticks 2.7 s apart", 700, 2700, {"v@3", "n@6", "n@57", "v@60"}},
  };
  for (const Case& c : cases) {
    ShowAfresh();
    const int versionBefore = VersionRequests();
    const int newPaperBefore = NewPaperRequests();
    std::vector<std::string> log;
    for (qint64 ms = c.firstTickMs; ms < 120'000; ms += c.periodMs) {
      const int v = VersionRequests();
      const int n = NewPaperRequests();
      TickAt(ms);
      if (VersionRequests() != v) log.push_back("v@" + std::to_string(ms / 1000));
      if (NewPaperRequests() != n) log.push_back("n@" + std::to_string(ms / 1000));
    }
    EXPECT_EQ(log, c.expected) << c.label;
    EXPECT_TRUE(form->CountdownTimer->isActive()) << c.label;
    // Nothing ran outside the ticks that logged it.
    EXPECT_EQ(VersionRequests() - versionBefore + NewPaperRequests() - newPaperBefore,
              static_cast<int>(c.expected.size()))
        << c.label;
  }
  EXPECT_EQ(FirstLine(versionServer.Requests().front()), "GET /vextal.asp HTTP/1.1");
  EXPECT_EQ(FirstLine(contentServer.Requests().front()), "GET /admin/ZPR_UpCount1.asp?id=12 HTTP/1.1");
  EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << Joined(fakes.dialogs.errors);
}

// A page in the version's place (a login portal's) is a failed check, reported as a failed request is, never news.
TEST_F(BackgroundChecksTest, OnlyTheExactVersionTextMeansNoNewVersion) {
  struct Case {
    std::string answer;
    bool message;
    bool noVersion = false;
  };
  const std::string running = vextal::kVersionText;
  const Case cases[] = {{running, false},       {running + ".1", true}, {running + "\r\n", true},
                        {running + " ", true},  {" " + running, true},  {"", true},
                        {running + "0", true},  {std::string(32, '9'), true},
                        {"<html>login</html>", false, true}, {std::string(33, '9'), false, true}};
  for (const Case& c : cases) {
    version = c.answer;
    fakes.dialogs.messages.clear();
    fakes.dialogs.errors.clear();
    ShowAfresh();
    const int newPaperBefore = NewPaperRequests();
    TickAt(1500);
    EXPECT_EQ(Joined(fakes.dialogs.messages), c.message ? Joined({kNewVersion}) : "") << c.answer;
    EXPECT_EQ(Joined(fakes.dialogs.errors), c.noVersion ? "网络需要登录或拦截了下载." : "") << c.answer;
    // Dismissed before the 25 reading, the message stopped the timer: the new-paper check does not follow.
    EXPECT_EQ(form->CountdownTimer->isActive(), !c.message) << c.answer;
    if (form->CountdownTimer->isActive()) {
      TickAt(4500);
    }
    EXPECT_EQ(NewPaperRequests() - newPaperBefore, c.message ? 0 : 1) << c.answer;
  }
}

TEST_F(BackgroundChecksTest, OnlyAnExactZeroMeansNoNewPapers) {
  struct Case {
    std::string answer;
    bool message;
  };
  const Case cases[] = {{"0", false}, {"", true}, {"3", true}, {"0\r\n", true}, {" 0", true}, {"00", true}};
  for (const Case& c : cases) {
    newPapers = c.answer;
    fakes.dialogs.messages.clear();
    ShowAfresh();
    TickAt(4500);
    EXPECT_EQ(Joined(fakes.dialogs.messages), c.message ? Joined({kNewPapers}) : "") << c.answer;
    EXPECT_EQ(form->CountdownTimer->isActive(), !c.message) << c.answer;
  }
  // An empty catalogue asks from the high-water mark "1".
  EXPECT_EQ(FirstLine(contentServer.Requests().front()), "GET /admin/ZPR_UpCount1.asp?id=1 HTTP/1.1");
}

TEST_F(BackgroundChecksTest, VersionMessageStillOpenAtTheTwentyFifthReadingLetsTheNewPaperCheckRun) {
  version = std::string(vextal::kVersionText) + ".1";  // another version
  newPapers = "4";
  fakes.dialogs.whileOpen = [this](const QString& text) {
    // The dialog's own event loop keeps the timer ticking until the user dismisses it 3 s later.
    if (text == kNewVersion) {
      TickAt(2500);
      TickAt(3500);
      TickAt(4500);
    }
  };
  TickAt(1500);
  EXPECT_EQ(Joined(fakes.dialogs.messages), Joined({kNewVersion, kNewPapers}));
  // One run only: once both messages are dismissed the timer is stopped and the handler's second look finds it so.
  EXPECT_EQ(VersionRequests(), 1);
  EXPECT_EQ(NewPaperRequests(), 1);
  EXPECT_FALSE(form->CountdownTimer->isActive());
}

// The same road with the real timer, ticking fast: a message box's event loop must go on delivering the ticks of
// the timer whose handler opened it.
TEST_F(BackgroundChecksTest, TheRealTimerKeepsTickingWhileAMessageIsOpen) {
  version = std::string(vextal::kVersionText) + ".1";  // another version
  newPapers = "4";
  const auto spinUntil = [](const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    poll.start(kPollMs);
    QTimer::singleShot(kSpinLimitMs, &loop, &QEventLoop::quit);
    loop.exec();
  };
  fakes.dialogs.whileOpen = [&](const QString& text) {
    if (text == kNewVersion) {
      fakes.clock.now = shownAt.addMSecs(4500);
      spinUntil([this] { return fakes.dialogs.messages.size() >= 2; });
    }
  };
  fakes.clock.now = shownAt.addMSecs(1500);
  form->CountdownTimer->start(kFastTickMs);
  spinUntil([this] { return !form->CountdownTimer->isActive(); });

  EXPECT_EQ(Joined(fakes.dialogs.messages), Joined({kNewVersion, kNewPapers}));
  EXPECT_EQ(VersionRequests(), 1);
  EXPECT_EQ(NewPaperRequests(), 1);
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << Joined(fakes.dialogs.errors);
}

TEST_F(BackgroundChecksTest, TheSameCheckDoesNotStartAgainWhileItsMessageIsOpen) {
  version = std::string(vextal::kVersionText) + ".1";  // another version
  bool userAway = true;
  fakes.dialogs.whileOpen = [this, &userAway](const QString& text) {
    // The user leaves the first message open past the repeat of the version check at 58 s.
    if (text == kNewVersion && userAway) {
      userAway = false;
      for (qint64 ms = 2500; ms < 60'000; ms += 1000) TickAt(ms);
    }
  };
  TickAt(1500);
  EXPECT_EQ(VersionRequests(), 1);
  EXPECT_EQ(Joined(fakes.dialogs.messages), Joined({kNewVersion}));
  // The new-paper check, another action, ran at both its readings meanwhile.
  EXPECT_EQ(NewPaperRequests(), 2);
}

TEST_F(BackgroundChecksTest, TransportFailureIsReportedAndRetriedAtTheRepeat) {
  LoopbackServer gone;
  const std::string refused = gone.Url("");
  gone.Stop();
  form->SetServers(contentServer.Url(""), refused);

  TickAt(1500);
  ASSERT_EQ(fakes.dialogs.errors.size(), 1);
  EXPECT_EQ(fakes.dialogs.errors[0], QStringLiteral("Socket Error # 10061\r\nConnection refused."));
  EXPECT_TRUE(form->CountdownTimer->isActive());
  TickAt(4500);
  EXPECT_EQ(NewPaperRequests(), 1);

  // An error status from the content server takes the same road.
  contentServer.SetHandler([](const std::string&) {
    return Answer{Action::Send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n")};
  });
  TickAt(55'500);
  EXPECT_EQ(NewPaperRequests(), 2);
  TickAt(58'500);
  EXPECT_EQ(fakes.dialogs.errors.size(), 3);
  EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
  EXPECT_TRUE(form->CountdownTimer->isActive());

  // So does a server that takes the request and then says nothing, for each check: its silence is given up at the
  // read limit (far shorter here than the program's own).
  form->Client.ReadTimeout = 300;
  versionServer.SetHandler([](const std::string&) { return Answer{Action::Hold()}; });
  contentServer.SetHandler([](const std::string&) { return Answer{Action::Send("HTTP/1.1 200 OK\r\n\r\n0"), Action::Hold()}; });
  form->SetServers(contentServer.Url(""), versionServer.Url(""));
  ShowAfresh();
  fakes.dialogs.errors.clear();
  TickAt(1500);
  TickAt(4500);
  EXPECT_EQ(fakes.dialogs.errors, QStringList({"Read Timeout.", "Read Timeout."}));
  EXPECT_TRUE(fakes.dialogs.messages.isEmpty()) << "a silence after \"0\" is no answer of \"0\"";
  EXPECT_TRUE(form->CountdownTimer->isActive());
}

TEST_F(BackgroundChecksTest, FiringsWhileTheRequestWaitsAreSkippedAndTheHandlerLooksAgainAfterIt) {
  versionServer.SetHandler([](const std::string&) {
    return Answer{Action::AwaitRelease(), Action::Send(OkResponse(vextal::kVersionText))};
  });
  int nestedTicks = 0;
  // Ticks the pump dispatches while the version request waits: the same reading once more, then the 25 reading; the
  // server answers only after both.
  for (qint64 ms : {1900, 4500}) {
    QMetaObject::invokeMethod(
        form.get(),
        [this, ms, &nestedTicks] {
          TickAt(ms);
          if (++nestedTicks == 2) versionServer.Release();
        },
        Qt::QueuedConnection);
  }
  TickAt(1100);
  EXPECT_EQ(nestedTicks, 2);
  EXPECT_EQ(VersionRequests(), 1);
  // Skipped while the client was busy, the 25 reading was still in the field when the version request returned.
  EXPECT_EQ(NewPaperRequests(), 1);
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << Joined(fakes.dialogs.errors);
}

TEST_F(BackgroundChecksTest, ShowingTheVisibleWindowKeepsItsCountAndAShowAfterAStopCountsAfresh) {
  fakes.clock.AdvanceMs(3000);
  form->show();
  EXPECT_EQ(form->Countdown().StartInstant(), shownAt);

  form->Countdown().Stop();
  ShowAfresh();
  EXPECT_EQ(form->Countdown().StartInstant(), shownAt);
  EXPECT_TRUE(form->CountdownTimer->isActive());
  TickAt(1500);
  EXPECT_EQ(VersionRequests(), 1);
}

}  // namespace
