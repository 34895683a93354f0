#include "tests/app/app_fixture.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QSqlQuery>
#include <QTimer>

namespace {

TEST_F(MainWindowTest, TaskWindowsAreBorderlessTopmostStripsWithTheirCaptionsAndSizes) {
  struct Case {
    ui::TaskWindow* window;
    QString caption;
    QSize size;
    bool editShown;
  };
  const Case cases[] = {
      {addSp.get(), "更新题库", {744, 49}, false},
      {gengXin.get(), "更新程序", {747, 49}, true},
      {form3.get(), "进度条", {677, 49}, false},
  };
  for (const Case& c : cases) {
    const std::string label = c.caption.toStdString();
    EXPECT_EQ(c.window->windowTitle(), c.caption) << label;
    EXPECT_EQ(c.window->size(), c.size) << label;
    EXPECT_TRUE(c.window->windowFlags() & Qt::FramelessWindowHint) << label;
    EXPECT_TRUE(c.window->windowFlags() & Qt::WindowStaysOnTopHint) << label;
    EXPECT_EQ(c.window->ProgressBar1->geometry().topLeft(), QPoint(0, 0)) << label;
    EXPECT_EQ(c.window->ProgressBar1->width(), c.size.width()) << label;
    EXPECT_EQ(c.window->Timer1->interval(), 1000) << label;
    EXPECT_FALSE(c.window->Timer1->isActive()) << label;
    c.window->show();
    EXPECT_EQ(c.window->Edit1->isVisible(), c.editShown) << label;
    c.window->hide();
  }
  EXPECT_EQ(gengXin->Edit1->geometry(), QRect(488, 16, 121, 22));
  EXPECT_EQ(gengXin->Edit1->text(), "Edit1");
}

TEST_F(MainWindowTest, TaskWindowIsCentredOnTheMainWindowAtItsFirstShowOnly) {
  form->show();
  form->move(0, 0);
  form->resize(1000, 600);
  addSp->show();
  const QRect main = form->frameGeometry();
  const QPoint centred(main.x() + (main.width() - 744) / 2, main.y() + (main.height() - 49) / 2);
  EXPECT_EQ(addSp->pos(), centred);
  addSp->hide();
  form->move(200, 100);
  addSp->show();
  EXPECT_EQ(addSp->pos(), centred);
}

TEST_F(MainWindowTest, ShowingAVisibleTaskWindowDoesNotRearmItsCountdown) {
  form3->show();
  const QDateTime armedAt = form3->Countdown().StartInstant();
  EXPECT_TRUE(form3->Timer1->isActive());
  fakes.clock.AdvanceMs(5000);
  form->N11->trigger();
  EXPECT_EQ(form3->Countdown().StartInstant(), armedAt);

  // A later show after a hide counts afresh.
  form3->hide();
  form3->show();
  EXPECT_EQ(form3->Countdown().StartInstant(), armedAt.addMSecs(5000));
}

TEST_F(MainWindowTest, HighestServerNumberIsOneForAnEmptyCatalogueAndOtherwiseTheLargest) {
  EXPECT_EQ(addSp->HighestServerNumber(), "1");
  Insert("9", "九", "公务员考试", "下载");
  Insert("10", "十", "公务员考试", "下载");
  Insert("", "无编号", "公务员考试", "下载");
  EXPECT_EQ(addSp->HighestServerNumber(), "10");
  // Its own result set: the main list's current row does not move.
  form->MainList()->Refresh();
  form->MainList()->SetCurrentRow(1);
  addSp->HighestServerNumber();
  EXPECT_EQ(form->MainList()->CurrentRow(), 1);
}

}  // namespace
