// The main window over a catalogue of a million papers: start-up to the shown window, choosing an exam, jumping to
// the last row, a search, a sort and a jump to the end of the sorted list, each timed to the grid painted, with the
// process's peak resident memory after each.
//
//   catalogue_bench prepare DB ROWS   writes a catalogue of ROWS papers in two exams (2:1), titles of the kind the
//                                     content server sends
//   catalogue_bench run DB            starts the real windows over DB; prints one line per step:
//                                     "<step> <seconds> <peak MiB>"
//
// bench/catalogue drives both and times the sqlite3 tool answering the same queries on the same file.

#include "app/main_window.h"
#include "app/startup.h"
#include "store/catalogue.h"
#include "store/result_set.h"
#include "ui/data_grid.h"
#include "ui/seams.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

namespace {

constexpr const char* kConnection = "catalogue_bench";
constexpr const char* kSearchTerm = "申论";

class QuietDialogs : public ui::Dialogs {
 public:
  void ShowMessage(const QString&) override {}
  void ShowError(const QString& text) override { std::cerr << "error: " << text.toStdString() << "\n"; }
  bool Confirm(const QString&) override { return false; }
  bool Ask(const QString&) override { return false; }
};

// Peak resident memory of the process so far (VmHWM), in MiB; 0 where /proc is missing.
double PeakMiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kib = 0;
      status >> kib;
      return kib / 1024;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

int Prepare(const QString& path, long long rows) {
  {
    QSqlDatabase db = store::OpenCatalogue(path, kConnection);
    QSqlQuery query(db);
    const QString fill = QStringLiteral(
        "with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
        "insert into VXT_TM (F_bh, F_SJMC, F_KM, F_ZFL1, F_LB, F_MS, F_ZT) "
        "select i, (2000 + i % 25) || '年' || case i % 5 when 0 then '国家公务员考试《申论》真题' "
        "when 1 then '行政职业能力测验真题' when 2 then '高考数学模拟题' when 3 then '高考语文试卷' "
        "else '会计从业资格考试模拟' end || '第' || i || '套', "
        "case when i % 3 = 0 then '高考' else '公务员考试' end, '科目' || (i % 7), "
        "case i % 3 when 0 then '模拟题' else '真题' end, '含答案及解析', "
        "case i % 4 when 0 then '打开' else '下载' end from n");
    if (!query.exec(fill.arg(rows))) {
      std::cerr << query.lastError().text().toStdString() << "\n";
      return 1;
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(kConnection);
  return 0;
}

void PressOnGrid(int key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(app::windows().main->PaperGrid, &press);
}

// Where the user lets go of the scroll bar's thumb: the grid paints the rows there.
void DragScrollBar(double fraction) {
  QScrollBar* bar = app::windows().main->PaperGrid->verticalScrollBar();
  bar->setValue(static_cast<int>(bar->maximum() * fraction));
}

// Runs one step and the painting it causes, and prints its figures.
void Step(const char* name, const std::function<void()>& action) {
  QElapsedTimer timer;
  timer.start();
  action();
  QApplication::processEvents();
  std::printf("%-28s %8.3f %8.1f   rows %d, at row %d\n", name, static_cast<double>(timer.nsecsElapsed()) / 1e9,
              PeakMiB(), app::windows().main->MainList()->RecordCount(), app::windows().main->MainList()->CurrentRow());
  std::fflush(stdout);
}

int Run(const QString& path) {
  QuietDialogs dialogs;
  ui::SetDialogs(&dialogs);
  Step("start-up to shown window", [&] {
    if (app::CreateWindows([](const QString& text) { std::cerr << text.toStdString() << "\n"; }, path) != 0) {
      std::exit(1);
    }
    app::windows().main->show();
    // The background checks would ask the product's servers; they are not what is measured here.
    app::windows().main->Countdown().Stop();
  });
  Step("exam filter (2/3 of papers)",
       [] { app::windows().main->ExamTree->setCurrentItem(app::windows().main->ExamTree->topLevelItem(0)); });
  Step("jump to the last row", [] { PressOnGrid(Qt::Key_End, Qt::ControlModifier); });
  Step("back to the first row", [] { PressOnGrid(Qt::Key_Home, Qt::ControlModifier); });
  Step("scroll bar to the middle", [] { DragScrollBar(0.5); });
  Step("search in the exam", [] {
    app::windows().main->SearchField->setText(QString::fromUtf8(kSearchTerm));
    app::windows().main->SearchPause->stop();
    app::windows().main->SearchAfterPause();
  });
  Step("search cleared", [] {
    app::windows().main->SearchField->clear();
    app::windows().main->SearchPause->stop();
    app::windows().main->SearchAfterPause();
  });
  Step("sort the exam by title", [] { app::windows().main->SortByColumn(QStringLiteral("F_SJMC"), Qt::AscendingOrder); });
  Step("jump to the last sorted row", [] { PressOnGrid(Qt::Key_End, Qt::ControlModifier); });
  Step("sorted: scroll bar to 1/2", [] { DragScrollBar(0.5); });
  Step("sorted: scroll bar to 1/3", [] { DragScrollBar(1.0 / 3); });
  Step("by number, keep the row", [] { app::windows().main->SortByColumn(QStringLiteral("F_id"), Qt::DescendingOrder); });
  ui::SetDialogs(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  try {
    if (args.size() == 4 && args[1] == QLatin1String("prepare")) {
      return Prepare(args[2], args[3].toLongLong());
    }
    if (args.size() == 3 && args[1] == QLatin1String("run")) {
      return Run(args[2]);
    }
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  std::cerr << "usage: catalogue_bench prepare DB ROWS | run DB\n";
  return 2;
}
