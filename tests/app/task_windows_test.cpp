#include "tests/app/app_fixture.h"
#include "tests/support/loopback_server.h"
#include "ui/data_grid.h"
#include "ui/hide_animation.h"
#include "ui/pump.h"
#include "vextal_config.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <vector>

namespace {

TEST_F(MainWindowTest, TaskWindowsAreBorderlessTopmostStripsWithTheirCaptionsAndSizes) {
  struct Case {
    ui::TaskWindow* window;
    QString caption;
    QSize size;
    bool editShown;
    int barWidth;  // "取消" takes the right end of the strips it ends; the download's keeps room for its text as well
  };
  const Case cases[] = {
      {catalogueUpdate.get(), "更新题库", {744, 49}, false, 672},
      {programUpdate.get(), "更新程序", {747, 49}, true, 747},
      {paperDownload.get(), "进度条", {677, 49}, false, 305},
  };
  for (const Case& c : cases) {
    const std::string label = c.caption.toStdString();
    EXPECT_EQ(c.window->windowTitle(), c.caption) << label;
    EXPECT_EQ(c.window->size(), c.size) << label;
    EXPECT_TRUE(c.window->windowFlags() & Qt::FramelessWindowHint) << label;
    EXPECT_TRUE(c.window->windowFlags() & Qt::WindowStaysOnTopHint) << label;
    EXPECT_EQ(c.window->ProgressBar->geometry().topLeft(), QPoint(0, 0)) << label;
    EXPECT_EQ(c.window->ProgressBar->width(), c.barWidth) << label;
    EXPECT_EQ(c.window->CountdownTimer->interval(), 1000) << label;
    EXPECT_FALSE(c.window->CountdownTimer->isActive()) << label;
    c.window->show();
    EXPECT_EQ(c.window->CountdownText->isVisible(), c.editShown) << label;
    c.window->hide();
  }
  EXPECT_EQ(programUpdate->CountdownText->geometry(), QRect(488, 16, 121, 22));
  EXPECT_EQ(programUpdate->CountdownText->text(), "Edit1");
}

TEST_F(MainWindowTest, TaskWindowIsCentredOnTheMainWindowAtItsFirstShowOnly) {
  form->show();
  form->move(0, 0);
  form->resize(1000, 600);
  catalogueUpdate->show();
  const QRect main = form->frameGeometry();
  const QPoint centred(main.x() + (main.width() - 744) / 2, main.y() + (main.height() - 49) / 2);
  EXPECT_EQ(catalogueUpdate->pos(), centred);
  catalogueUpdate->hide();
  form->move(200, 100);
  catalogueUpdate->show();
  EXPECT_EQ(catalogueUpdate->pos(), centred);
}

TEST_F(MainWindowTest, ShowingAVisibleTaskWindowDoesNotRearmItsCountdown) {
  paperDownload->show();
  const QDateTime armedAt = paperDownload->Countdown().StartInstant();
  EXPECT_TRUE(paperDownload->CountdownTimer->isActive());
  fakes.clock.AdvanceMs(5000);
  form->DownloadPaperAction->trigger();
  EXPECT_EQ(paperDownload->Countdown().StartInstant(), armedAt);

  // A later show after a hide counts afresh.
  paperDownload->hide();
  paperDownload->show();
  EXPECT_EQ(paperDownload->Countdown().StartInstant(), armedAt.addMSecs(5000));
}

const std::string kServerError = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";

// Each task window's command, pointed at one loopback server, with what its action asks for when the server works.
class TaskCommandTest : public MainWindowTest {
 protected:
  struct Command {
    const char* label;
    ui::TaskWindow* window;
    std::function<void()> give;
    std::vector<testsupport::Answer> working;  // one answer per request of a successful run
    std::function<bool()> succeeded;
    bool escapeCancels = false;  // Escape stops the download's or the update's request, as their "取消" does
  };

  void SetUp() override {
    MainWindowTest::SetUp();
    ui::InstallPumpDispatcher();
    ASSERT_TRUE(QDir().mkpath("DownLoad"));
    paperDownload->SetContentServer(server.Url(""));
    catalogueUpdate->SetContentServer(server.Url(""));
    programUpdate->SetVersionServer(server.Url(""));
    Insert("7", "甲", "公务员考试", "下载");
    Insert("8", "乙", "公务员考试", "下载");
    form->MainList()->Refresh();
    form->show();
  }

  std::vector<Command> Commands() {
    using testsupport::Action;
    using testsupport::OkResponse;
    const auto downloaded = [this](int row) {
      return [this, row] {
        return form->MainList()->FieldAsText(row, "F_ZT") == QStringLiteral("打开") && !paperDownload->isVisible();
      };
    };
    return {
        {"下载试卷", paperDownload.get(), [this] { form->DownloadPaperAction->trigger(); },
         {{Action::Send(OkResponse("x/p.doc"))}, {Action::Send(OkResponse("paper"))}}, downloaded(0), true},
        {"double-click on a 下载 row", paperDownload.get(),
         [this] {
           const QRect cell = form->PaperGrid->visualRect(form->PaperGrid->Model()->index(1, 1));
           QTest::mouseDClick(form->PaperGrid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
         },
         {{Action::Send(OkResponse("x/q.doc"))}, {Action::Send(OkResponse("paper"))}}, downloaded(1), true},
        {"更新题库", catalogueUpdate.get(), [this] { form->UpdateCatalogueAction->trigger(); },
         {{Action::Send(OkResponse("<tr><F_id>9</F_id>"))}},
         [this] { return fakes.dialogs.messages.endsWith(QStringLiteral("系统已升级完成，共下载1套试卷")); }, true},
        {"更新软件", programUpdate.get(), [this] { form->UpdateProgramAction->trigger(); },
         {{Action::Send(OkResponse(vextal::kVersionText))}},
         [this] { return fakes.dialogs.messages.endsWith(QStringLiteral("系统已经是最新版本了！")); }},
    };
  }

  // The window's next tick, 1.5 s on: at its 28 reading when it was armed just now. `meanwhile` is queued behind the
  // tick, so the action's own wait (the download's first step, or a request's pump) dispatches it.
  void Tick(ui::TaskWindow* window, const std::function<void()>& meanwhile = {}) {
    fakes.clock.AdvanceMs(1500);
    QMetaObject::invokeMethod(window->CountdownTimer, "timeout", Qt::DirectConnection);
    if (meanwhile) QMetaObject::invokeMethod(form.get(), meanwhile, Qt::QueuedConnection);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
  }

  int Requests() const { return static_cast<int>(server.Requests().size()); }

  testsupport::LoopbackServer server;
};

// Neither the command nor Escape touches a strip whose action runs (in the download's and the update's request Escape
// is their cancel, tested with each). After a failure the strip stays: the download's
// countdown has stopped, so its command arms it again; the other two keep theirs for the repeat, so their command
// changes nothing until Escape puts the strip away. The retry goes to the recovered server: one request per attempt.
TEST_F(TaskCommandTest, TheCommandRetriesAStripLeftAfterAFailureButNeverInterruptsARunningAction) {
  for (const Command& c : Commands()) {
    SCOPED_TRACE(c.label);
    c.give();
    ASSERT_TRUE(c.window->isVisible());
    const QDateTime armedAt = c.window->Countdown().StartInstant();
    const int before = Requests();
    server.Enqueue({testsupport::Action::Pause(300), testsupport::Action::Send(kServerError)});
    bool ignored = false;
    Tick(c.window, [&] {
      c.give();
      if (!c.escapeCancels) QTest::keyClick(c.window, Qt::Key_Escape);
      ignored = c.window->isVisible() && c.window->Countdown().StartInstant() == armedAt;
    });
    EXPECT_TRUE(ignored);
    ASSERT_EQ(Requests(), before + 1);
    ASSERT_TRUE(c.window->isVisible());

    if (c.window->CountdownTimer->isActive()) {
      c.give();
      EXPECT_EQ(c.window->Countdown().StartInstant(), armedAt);
      QTest::keyClick(c.window, Qt::Key_Escape);
      EXPECT_FALSE(c.window->isVisible());
      EXPECT_FALSE(c.window->CountdownTimer->isActive());
    }
    c.give();
    EXPECT_TRUE(c.window->isVisible());
    EXPECT_EQ(c.window->Countdown().StartInstant(), fakes.clock.now);
    for (const testsupport::Answer& answer : c.working) server.Enqueue(answer);
    Tick(c.window);
    EXPECT_EQ(Requests(), before + 1 + static_cast<int>(c.working.size()));
    EXPECT_TRUE(c.succeeded());
    EXPECT_FALSE(c.window->isVisible());
  }
  // The server's error statuses of the two windows that report theirs.
  EXPECT_EQ(fakes.dialogs.errors.size(), 2);
}

// The user closes the main window while a download waits on a server that does not answer: the process ends as the
// 900 ms animation does. A catalogue update tick that lands in the animation's wait starts no request, which would
// hold the process for as long as its server takes.
TEST_F(TaskCommandTest, ClosingDuringASlowRequestEndsTheProcessWithinTheAnimation) {
  // Answers only when the test lets it, which it never does: an end that waited for this server would not come.
  testsupport::LoopbackServer slowServer;
  slowServer.SetHandler([](const std::string&) {
    return testsupport::Answer{testsupport::Action::AwaitRelease(), testsupport::Action::Send(testsupport::OkResponse(""))};
  });
  catalogueUpdate->SetContentServer(slowServer.Url(""));
  form->SetHideAnimationMs(ui::kHideAnimationMs);
  form->UpdateCatalogueAction->trigger();
  form->DownloadPaperAction->trigger();
  server.Enqueue({testsupport::Action::Hold()});
  QElapsedTimer sinceClose;
  qint64 endedAfterMs = -1;
  fakes.processes.whenEnded = [&](int) {
    endedAfterMs = sinceClose.elapsed();
    // The real end takes the waiting download with it; here the server's going away ends it.
    server.Stop();
  };
  // The download's wait dispatches the close; the catalogue update's tick, at its 28 reading, is queued behind it.
  QTimer::singleShot(50, form.get(), [&] {
    QMetaObject::invokeMethod(catalogueUpdate->CountdownTimer, "timeout", Qt::DirectConnection);
    sinceClose.start();
    form->close();
  });
  Tick(paperDownload.get());

  EXPECT_EQ(fakes.processes.endCodes, QVector<int>{0});
  // The whole animation played, and the end did not wait for the slow server (nor did anything ask it).
  EXPECT_GE(endedAfterMs, ui::kHideAnimationMs);
  EXPECT_TRUE(slowServer.Requests().empty());
  EXPECT_FALSE(form->isVisible());
}

// The download belongs to its paper: a search, an exam chosen in the tree, a sort or a refresh while the file streams in
// or while the download waits for another try changes nothing about it. The paper arrives, and the grid shows it
// "打开" when it shows the row again.
TEST_F(TaskCommandTest, WhatTheListShowsChangesNothingAboutADownloadUnderWay) {
  using testsupport::Action;
  using testsupport::OkResponse;
  const std::string paper(64000, 'p');
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(paper.size()) + "\r\n\r\n";
  const auto search = [this] {
    form->SearchField->setText(QStringLiteral("无此试卷"));
    form->SearchAfterPause();
  };
  const auto otherExam = [this] { form->ChooseExam(form->ExamTree->topLevelItem(1)); };
  const auto sort = [this] { form->SortByColumn(QStringLiteral("F_SJMC"), Qt::DescendingOrder); };
  const auto refresh = [this] { form->MainList()->Refresh(); };
  struct Case {
    const char* label;
    bool inThePause;
    std::function<void()> change;
  };
  const Case cases[] = {
      {"search in the transfer", false, search}, {"search in the pause", true, search},
      {"exam in the transfer", false, otherExam}, {"exam in the pause", true, otherExam},
      {"sort in the transfer", false, sort},     {"sort in the pause", true, sort},
      {"refresh in the transfer", false, refresh},
  };
  const auto showEverything = [this] {
    form->SearchField->clear();
    form->SearchAfterPause();
    form->SortByColumn(QString(), Qt::AscendingOrder);
    form->ChooseExam(form->ExamTree->topLevelItem(0));
  };
  const auto bar = paperDownload->Client().OnWork;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    showEverything();
    store::ResultSet* list = form->MainList();
    const qint64 id = list->CurrentId();
    list->UpdateById(id, {{QStringLiteral("F_ZT"), QStringLiteral("下载")}});
    QFile::remove(QStringLiteral("DownLoad/p.pdf"));
    server.Enqueue({Action::Send(OkResponse("x/p.pdf"))});
    if (c.inThePause) {
      server.Enqueue({Action::Send(kServerError)});
      server.Enqueue({Action::Send(OkResponse("x/p.pdf"))});
      server.Enqueue({Action::Send(head + paper)});
    } else {
      server.Enqueue({Action::Send(head + paper.substr(0, 1000)), Action::AwaitRelease(), Action::Send(paper.substr(1000))});
    }
    paperDownload->SetRetryPause([&](int) {
      c.change();
      return true;
    });
    net::HttpClient& client = paperDownload->Client();
    client.OnWork = [&](net::HttpClient& self, net::WorkMode mode, std::int64_t count) {
      bar(self, mode, count);
      // The user's change arrives through the event queue, which the transfer's wait serves.
      if (!c.inThePause && count == 1000) {
        QTimer::singleShot(0, form.get(), [&] {
          c.change();
          server.Release();
        });
      }
    };
    form->DownloadPaperAction->trigger();
    Tick(paperDownload.get());
    client.OnWork = bar;

    EXPECT_EQ(list->StoredFieldById(id, QStringLiteral("F_ZT")), QStringLiteral("打开"));
    EXPECT_EQ(list->StoredFieldById(id, QStringLiteral("F_BDWJ")), QStringLiteral("p.pdf"));
    QFile file(QStringLiteral("DownLoad/p.pdf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.size(), static_cast<qint64>(paper.size()));
    EXPECT_FALSE(paperDownload->isVisible());
    showEverything();
    EXPECT_EQ(list->FieldAsText(list->RowOfId(id), QStringLiteral("F_ZT")), QStringLiteral("打开"));
  }
}

TEST_F(MainWindowTest, HighestServerNumberIsOneForAnEmptyCatalogueAndOtherwiseTheLargest) {
  EXPECT_EQ(catalogueUpdate->HighestServerNumber(), "1");
  Insert("9", "九", "公务员考试", "下载");
  Insert("10", "十", "公务员考试", "下载");
  Insert("", "无编号", "公务员考试", "下载");
  EXPECT_EQ(catalogueUpdate->HighestServerNumber(), "10");
  // Its own result set: the main list's current row does not move.
  form->MainList()->Refresh();
  form->MainList()->SetCurrentRow(1);
  catalogueUpdate->HighestServerNumber();
  EXPECT_EQ(form->MainList()->CurrentRow(), 1);
}

}  // namespace
