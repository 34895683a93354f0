#include "app/main_window.h"

#include "store/result_set.h"
#include "store/statements.h"
#include "tests/app/app_fixture.h"
#include "ui/data_grid.h"
#include "vextal_config.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace {

const QString kDefaultTab = QStringLiteral("　　试卷列表　　");

QStringList Captions(const QList<QAction*>& actions) {
  QStringList captions;
  for (const QAction* action : actions) {
    captions << action->text();
  }
  return captions;
}

TEST_F(MainWindowTest, ShowPlacesTheWindowOnTheWholeDesktopWithVersionCaptionAndTreeFocus) {
  form->show();
  const QRect desktop = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Vextal") + vextal::kVersionText);
  EXPECT_EQ(form->VersionText(), vextal::kVersionText);
  EXPECT_EQ(form->pos(), QPoint(0, 0));
  EXPECT_EQ(form->size(), desktop.size());
  EXPECT_EQ(form->focusWidget(), form->ExamTree);
  EXPECT_TRUE(form->CountdownTimer->isActive());
  EXPECT_FALSE(form->CountdownText->isVisible());
  // The tree taking the focus selects nothing: the default list and its caption stay.
  EXPECT_TRUE(form->ExamTree->selectedItems().isEmpty());
  EXPECT_EQ(form->ListTabs->tabText(0), kDefaultTab);
}

TEST_F(MainWindowTest, LayoutMenuAndTreeAreThoseOfTheProgram) {
  EXPECT_EQ(form->ProductLabel->text(), "Dovrin产品：");
  ASSERT_EQ(form->ExamTree->topLevelItemCount(), 2);
  EXPECT_EQ(form->ExamTree->topLevelItem(0)->text(0), "公务员考试");
  EXPECT_EQ(form->ExamTree->topLevelItem(1)->text(0), "高考");
  EXPECT_EQ(form->ExamTree->topLevelItem(0)->childCount(), 0);
  EXPECT_EQ(form->ListTabs->count(), 1);
  EXPECT_EQ(form->ListTabs->tabText(0), kDefaultTab);

  const ui::ResultSetModel* grid = form->PaperGrid->Model();
  QStringList titles;
  for (int i = 0; i < grid->columnCount(); ++i) {
    titles << grid->headerData(i, Qt::Horizontal).toString();
  }
  EXPECT_EQ(titles, QStringList({"编号", "题目名称", "职考名称", "科目", "类别", "是否下载", "备注", "下载时间"}));
  const int widths[] = {34, 296, 82, 98, 100, 92, 75};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(form->PaperGrid->columnWidth(i), widths[i]) << titles[i].toStdString();
  }

  EXPECT_EQ(Captions(form->menuBar()->actions()), QStringList({"文件", "题库列表", "下载/打开", "更新", "退出系统"}));
  EXPECT_EQ(Captions(form->FileMenu->actions()), QStringList({"退出"}));
  EXPECT_EQ(Captions(form->PaperMenu->actions()), QStringList({"下载试卷", "打开试卷"}));
  EXPECT_EQ(Captions(form->UpdateMenu->actions()), QStringList({"更新题库", "更新软件"}));
}

TEST_F(MainWindowTest, TreeSelectionFiltersTheListAndWritesTheTabCaption) {
  Insert("1", "申论一", "公务员考试", "下载");
  Insert("2", "语文", "高考", "下载");
  Insert("3", "申论二", "公务员考试", "打开");
  form->MainList()->Refresh();
  form->show();

  struct Case {
    int item;
    QString caption;
    QStringList titles;
  };
  const Case cases[] = {
      {0, "　　公务员考试　　共计　2　套试卷", {"申论二", "申论一"}},
      {1, "　　高考　　共计　1　套试卷", {"语文"}},
  };
  for (const Case& c : cases) {
    form->ExamTree->setCurrentItem(form->ExamTree->topLevelItem(c.item));
    EXPECT_EQ(form->ListTabs->tabText(0), c.caption);
    QStringList titles;
    for (int row = 0; row < form->MainList()->RecordCount(); ++row) {
      titles << form->MainList()->FieldAsText(row, "F_SJMC");
    }
    EXPECT_EQ(titles, c.titles);
    EXPECT_EQ(form->PaperGrid->Model()->rowCount(), c.titles.size());
  }
}

// The user's road through a list: a search typed, an exam chosen under it, the search cleared, a column ordered both
// ways with the selected paper kept selected.
TEST_F(MainWindowTest, SearchAndSortNarrowAndOrderTheListShown) {
  Insert("1", "申论一", "公务员考试", "下载");
  Insert("2", "语文", "高考", "下载");
  Insert("3", "申论二", "公务员考试", "打开");
  Insert("4", "行测", "公务员考试", "下载");
  form->MainList()->Refresh();
  form->show();
  QHeaderView* header = form->PaperGrid->horizontalHeader();
  const auto clickTitle = [&](int section) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
  };
  const auto type = [&](const QString& text) {
    // As typed: QTest's key clicks know no Chinese characters.
    form->SearchField->insert(text);
    // The list waits for a pause in typing; the test does not wait for it.
    EXPECT_TRUE(form->SearchPause->isActive());
    form->SearchPause->stop();
    form->SearchAfterPause();
  };
  const auto selectTitle = [&](const QString& title) {
    for (int row = 0; row < form->MainList()->RecordCount(); ++row) {
      if (form->MainList()->FieldAsText(row, "F_SJMC") == title) form->MainList()->SetCurrentRow(row);
    }
  };

  struct Step {
    const char* label;
    std::function<void()> action;
    QString caption;
    QStringList titles;
    QString selected;
  };
  const Step steps[] = {
      {"before anything", [] {}, kDefaultTab, {"行测", "申论二", "语文", "申论一"}, "行测"},
      {"search the whole catalogue", [&] { type("申论"); }, "　　全部试卷　　共计　2　套试卷", {"申论二", "申论一"},
       "申论二"},
      {"an exam under the search", [&] { form->ExamTree->setCurrentItem(form->ExamTree->topLevelItem(1)); },
       "　　高考　　共计　0　套试卷", {}, ""},
      {"another exam", [&] { form->ExamTree->setCurrentItem(form->ExamTree->topLevelItem(0)); },
       "　　公务员考试　　共计　2　套试卷", {"申论二", "申论一"}, "申论二"},
      {"Escape clears the search",
       [&] {
         QTest::keyClick(form->SearchField, Qt::Key_Escape);
         form->SearchPause->stop();
         form->SearchAfterPause();
       },
       "　　公务员考试　　共计　3　套试卷", {"行测", "申论二", "申论一"}, "行测"},
      {"title ascending keeps the selection",
       [&] {
         selectTitle("申论二");
         clickTitle(1);
       },
       "　　公务员考试　　共计　3　套试卷", {"申论一", "申论二", "行测"}, "申论二"},
      {"title again: descending", [&] { clickTitle(1); }, "　　公务员考试　　共计　3　套试卷",
       {"行测", "申论二", "申论一"}, "申论二"},
      {"number ascending", [&] { clickTitle(0); }, "　　公务员考试　　共计　3　套试卷", {"申论一", "申论二", "行测"},
       "申论二"},
  };
  for (const Step& step : steps) {
    step.action();
    EXPECT_EQ(form->ListTabs->tabText(0), step.caption) << step.label;
    QStringList titles;
    for (int row = 0; row < form->MainList()->RecordCount(); ++row) {
      titles << form->MainList()->FieldAsText(row, "F_SJMC");
    }
    EXPECT_EQ(titles, step.titles) << step.label;
    EXPECT_EQ(form->PaperGrid->Model()->rowCount(), step.titles.size()) << step.label;
    EXPECT_EQ(form->MainList()->FieldAsText("F_SJMC"), step.selected) << step.label;
  }
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), 0);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
  EXPECT_EQ(form->SearchField->placeholderText(), "搜索试卷名称");

  // Ctrl+F puts the cursor in the search field.
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->PaperGrid->setFocus();
  QTest::keyClick(form->PaperGrid, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(form->SearchField->hasFocus());
}

TEST_F(MainWindowTest, ExamWithoutPapersEmptiesTheGridAndCountsZero) {
  Insert("1", "申论", "公务员考试", "下载");
  form->MainList()->Refresh();
  form->ExamTree->setCurrentItem(form->ExamTree->topLevelItem(1));
  EXPECT_EQ(form->ListTabs->tabText(0), "　　高考　　共计　0　套试卷");
  EXPECT_EQ(form->PaperGrid->Model()->rowCount(), 0);
}

TEST_F(MainWindowTest, DoubleClickDownloadsOrOpensByStatusWord) {
  enum class Paper { kPresent, kMissingAnswerYes, kMissingAnswerNo };
  struct Case {
    QString status;
    QString file;
    bool downloads;
    QStringList opened;
    QStringList messages;
    Paper paper = Paper::kPresent;
    QString statusAfter = {};  // empty: as before
  };
  const QString folder = QDir::currentPath() + "/DownLoad/";
  // A catalogue or folder from an earlier version may hold a program under an "打开" row: it is never run.
  const auto notOpened = [](const QString& file) {
    return QStringList{"没有打开“" + file + "”：这种文件会运行程序，可能不安全。"};
  };
  // Nor does a stored name reach out of the download folder: the open applies the download's own checks.
  const auto outside = [](const QString& file) {
    return QStringList{"没有打开“" + file + "”：这个文件名指向下载文件夹以外。"};
  };
  const Case cases[] = {
      {"下载", "", true, {}, {}},
      {"打开", "7.doc", false, {folder + "7.doc"}, {}},
      {"打开", "2024/试卷.pdf", false, {folder + "2024/试卷.pdf"}, {}},
      {"打开", "试卷.exe", false, {}, notOpened("试卷.exe")},
      {"打开", "a.pdf.BAT. ", false, {}, notOpened("a.pdf.BAT. ")},
      {"打开", "sub/x.desktop", false, {}, notOpened("sub/x.desktop")},
      {"打开", "../../etc/passwd", false, {}, outside("../../etc/passwd")},
      {"打开", "sub\\..\\..\\x.pdf", false, {}, outside("sub\\..\\..\\x.pdf")},
      {"打开", "/tmp/x.pdf", false, {}, outside("/tmp/x.pdf")},
      // A paper moved or deleted since: the user is asked, and the shell never sees a missing file.
      {"打开", "gone.pdf", true, {}, {}, Paper::kMissingAnswerYes, "打开"},
      {"打开", "gone.pdf", false, {}, {}, Paper::kMissingAnswerNo, "下载"},
      {"暂无资源", "", false, {}, {}},
      {"", "", false, {}, {}},
  };
  for (const Case& c : cases) {
    QSqlQuery(form->Database()).exec("delete from VXT_TM");
    Insert("7", "试卷", "公务员考试", c.status, c.file);
    form->MainList()->Refresh();
    paperDownload->hide();
    fakes.shell.opened.clear();
    fakes.dialogs.messages.clear();
    fakes.dialogs.questions.clear();
    fakes.dialogs.confirmAnswers = {c.paper == Paper::kMissingAnswerYes};
    for (const QString& path : c.opened) {
      QDir().mkpath(QFileInfo(path).path());
      QFile(path).open(QIODevice::WriteOnly);
    }

    const QRect cell = form->PaperGrid->visualRect(form->PaperGrid->Model()->index(0, 1));
    form->show();
    QTest::mouseDClick(form->PaperGrid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    EXPECT_EQ(paperDownload->isVisible(), c.downloads) << c.status.toStdString();
    EXPECT_EQ(fakes.shell.opened, c.opened) << c.file.toStdString();
    EXPECT_EQ(fakes.dialogs.messages, c.messages) << c.file.toStdString();
    EXPECT_EQ(fakes.dialogs.questions,
              c.paper == Paper::kPresent ? QStringList{}
                                         : QStringList{"试卷文件“" + c.file + "”不在下载文件夹中，是否重新下载？"})
        << c.file.toStdString();
    // The time and the file name stay as they were either way.
    EXPECT_EQ(form->MainList()->FieldAsText("F_ZT"), c.statusAfter.isEmpty() ? c.status : c.statusAfter);
    EXPECT_EQ(form->MainList()->FieldAsText("F_BDWJ"), c.file);
  }
}

// The question's own event loop may run a catalogue update or a tree selection underneath it: OK deletes the paper
// that was selected when Ctrl+Delete was pressed, wherever the list holds it by then, and nothing once it is gone.
TEST_F(MainWindowTest, CtrlDeleteDeletesThePaperItAskedAbout) {
  struct Case {
    const char* label;
    std::function<void()> whileAsking;
    QStringList remaining;
  };
  const Case cases[] = {
      {"nothing happens meanwhile", [] {}, {"申论二", "常识"}},
      {"an update refreshes the list with a new paper on top",
       [this] {
         Insert("4", "新试卷", "公务员考试", "下载");
         form->MainList()->Refresh();
       },
       {"申论二", "常识", "新试卷"}},
      {"the tree re-filters the list", [this] { form->ExamTree->setCurrentItem(form->ExamTree->topLevelItem(0)); },
       {"申论二", "常识"}},
      {"the tree empties the list", [this] { form->ExamTree->setCurrentItem(form->ExamTree->topLevelItem(1)); },
       {"申论二", "常识"}},
      {"the paper is deleted elsewhere",
       [this] {
         QSqlQuery(form->Database()).exec("delete from VXT_TM where F_SJMC = '申论一'");
         form->MainList()->Refresh();
       },
       {"申论二", "常识"}},
  };
  fakes.dialogs.confirmDefault = true;
  for (const Case& c : cases) {
    QSqlQuery(form->Database()).exec("delete from VXT_TM");
    form->ExamTree->clearSelection();
    Insert("1", "申论一", "公务员考试", "下载");
    Insert("2", "申论二", "公务员考试", "下载");
    Insert("3", "常识", "公务员考试", "下载");
    form->MainList()->SetStatement(store::DefaultListStatement());
    form->MainList()->Refresh();
    form->MainList()->SetCurrentRow(2);
    ASSERT_EQ(form->MainList()->FieldAsText("F_SJMC"), "申论一");
    fakes.dialogs.whileOpen = [&c](const QString&) { c.whileAsking(); };

    QTest::keyClick(form->PaperGrid, Qt::Key_Delete, Qt::ControlModifier);

    QStringList remaining;
    QSqlQuery stored(form->Database());
    stored.exec("select F_SJMC from VXT_TM order by F_id");
    while (stored.next()) remaining << stored.value(0).toString();
    EXPECT_EQ(remaining.join(", ").toStdString(), c.remaining.join(", ").toStdString()) << c.label;
    EXPECT_EQ(form->PaperGrid->Model()->rowCount(), form->MainList()->RecordCount()) << c.label;
    EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << c.label;
  }
}

TEST_F(MainWindowTest, OpenPaperHandsTheDownloadPathToTheShellEvenWhenNoFileIsRecorded) {
  Insert("1", "未下载", "公务员考试", "下载");
  form->MainList()->Refresh();
  form->OpenPaperAction->trigger();
  EXPECT_EQ(fakes.shell.opened, QStringList{QDir::currentPath() + "/DownLoad"});

  // The link label opens the publisher's address the same way.
  QTest::mouseClick(form->PublisherLink, Qt::LeftButton);
  ASSERT_EQ(fakes.shell.opened.size(), 2);
  EXPECT_EQ(fakes.shell.opened[1], form->PublisherLink->text());
}

TEST_F(MainWindowTest, UpdateItemsStopTheCountdownBeforeShowingTheirWindow) {
  struct Case {
    QAction* item;
    QWidget* window;
    const char* label;
  };
  form->show();
  const Case cases[] = {{form->UpdateCatalogueAction, catalogueUpdate.get(), "更新题库"}, {form->UpdateProgramAction, programUpdate.get(), "更新软件"}};
  for (const Case& c : cases) {
    form->Countdown().Arm();
    c.item->trigger();
    EXPECT_FALSE(form->CountdownTimer->isActive()) << c.label;
    EXPECT_TRUE(c.window->isVisible()) << c.label;
  }
  form->DownloadPaperAction->trigger();
  EXPECT_TRUE(paperDownload->isVisible());
}

TEST_F(MainWindowTest, ClosingPlaysTheAnimationThenEndsTheProcess) {
  for (QAction* item : {form->QuitAction, form->ExitAction}) {
    form->show();
    fakes.processes.endCodes.clear();
    item->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(fakes.processes.endCodes, QVector<int>{0});
  }
  // The real animation collapses the window before the end.
  form->SetHideAnimationMs(40);
  form->show();
  fakes.processes.endCodes.clear();
  form->close();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(fakes.processes.endCodes, QVector<int>{0});
}

TEST_F(MainWindowTest, HandlerErrorsReachTheDefaultReportAndTheWindowCarriesOn) {
  // A dropped table makes the next statement fail inside the tree handler.
  QSqlQuery(form->Database()).exec("drop table VXT_TM");
  form->ExamTree->setCurrentItem(form->ExamTree->topLevelItem(0));
  ASSERT_EQ(fakes.dialogs.errors.size(), 1);
  EXPECT_TRUE(fakes.dialogs.errors[0].contains("VXT_TM")) << fakes.dialogs.errors[0].toStdString();
  EXPECT_EQ(form->ListTabs->tabText(0), kDefaultTab);
}

}  // namespace
