#pragma once

#include "net/http_client.h"
#include "store/catalogue.h"
#include "ui/countdown.h"
#include "ui/hide_animation.h"

#include <QMainWindow>
#include <QSqlDatabase>
#include <QString>

#include <string>

class QAction;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QShowEvent;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace exchange {
class CatalogueUpdateWindow;
class PaperDownloadWindow;
class ProgramUpdateWindow;
}  // namespace exchange

namespace store {
class ResultSet;
}

namespace ui {
class DataGrid;
}

namespace app {

// The main window: the exam tree beside the paper grid, the menu commands that show the task windows, opening a
// downloaded paper, and the process end when it closes. Creating it opens the catalogue and the main list, and throws
// store::DatabaseError when the catalogue cannot be opened.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(const QString& databasePath = QString::fromLatin1(store::kCatalogueFile));
  ~MainWindow() override;

  // The task windows the menu and the grid show; created after this window, so handed in afterwards.
  void SetTaskWindows(exchange::CatalogueUpdateWindow* catalogueUpdate, exchange::ProgramUpdateWindow* programUpdate,
                      exchange::PaperDownloadWindow* paperDownload);

  QSqlDatabase Database() const { return m_database; }
  store::ResultSet* MainList() const { return m_mainList; }
  ui::CountdownTrigger& Countdown() { return m_countdown; }
  // The version text shown in the title; held in VersionLabel, under the tree.
  QString VersionText() const;

  // Where the background checks ask: origins such as "http://host:port", without a trailing "/". The build-time
  // origins unless a test points the window at its own servers.
  void SetServers(const std::string& contentOrigin, const std::string& versionOrigin);

  // Tests shorten the close animation; the program always plays it for its full length.
  void SetHideAnimationMs(int ms) { m_hideAnimationMs = ms; }

  // What the user does, and what the window does in answer.
  // Shown: fills the desktop, takes the version text into the title, arms the background checks.
  void OnShown();
  // Closed by any road: the hide animation, then the process ends.
  void EndAfterHideAnimation();
  // Once a second while the countdown runs: the version check at the 28 reading, the new-paper check at the 25.
  void OnCountdownTick();
  void ChooseExam(QTreeWidgetItem* node);
  // A double-click on a row: downloads a "下载" paper, opens an "打开" one.
  void OpenOrDownloadRow();
  // A click on a column title: the list is ordered by that column, in the database.
  void SortByColumn(const QString& field, Qt::SortOrder order);
  // The search field: each change waits for a short pause in typing (SearchPause) before the list is searched.
  void OnSearchTextEdited();
  void SearchAfterPause();
  void Quit();                   // 文件 / 退出, and 退出系统
  void ShowPaperList();          // 题库列表
  void UpdateCatalogue();        // 更新 / 更新题库
  void UpdateProgram();          // 更新 / 更新软件
  void DownloadSelectedPaper();  // 下载/打开 / 下载试卷
  void OpenSelectedPaper();      // 下载/打开 / 打开试卷
  void OpenPublisherSite();      // a click on the address in the top band

  // Controls.
  QWidget* TopBand = nullptr;
  QLabel* ProductLabel = nullptr;   // "Dovrin产品："
  QLabel* PublisherLink = nullptr;  // the publisher's web address
  QLineEdit* SearchField = nullptr;  // at the right end of the top band
  QWidget* TreePanel = nullptr;
  QTreeWidget* ExamTree = nullptr;
  QLabel* VersionLabel = nullptr;  // the version text, under the tree
  QSplitter* Splitter = nullptr;
  QTabWidget* ListTabs = nullptr;
  QWidget* ListTab = nullptr;
  ui::DataGrid* PaperGrid = nullptr;
  QStatusBar* StatusLine = nullptr;
  QTimer* const CountdownTimer;
  QLineEdit* const CountdownText;  // never shown
  QTimer* const SearchPause;       // the pause after typing in the search field
  net::HttpClient Client;          // the background checks' one client
  QMenu* FileMenu = nullptr;                   // 文件
  QAction* QuitAction = nullptr;               // 退出
  QAction* PaperListAction = nullptr;          // 题库列表
  QMenu* PaperMenu = nullptr;                  // 下载/打开
  QAction* DownloadPaperAction = nullptr;      // 下载试卷
  QAction* OpenPaperAction = nullptr;          // 打开试卷
  QMenu* UpdateMenu = nullptr;                 // 更新
  QAction* UpdateCatalogueAction = nullptr;    // 更新题库
  QAction* UpdateProgramAction = nullptr;      // 更新软件
  QAction* ExitAction = nullptr;               // 退出系统

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The window's parts, each with the handlers its controls call.
  void BuildControls();
  QWidget* BuildTopBand(QWidget* parent);
  QWidget* BuildTreePanel(QWidget* parent);
  QWidget* BuildListTabs(QWidget* parent);
  void BuildMenu();
  void BuildStatusBar();
  void BuildCountdown();
  // The two background checks, at the 28 and the 25 reading.
  void CheckVersion();
  void CheckForNewPapers();
  // The main list for the exam chosen, the search text and the column order, reopened; with keepSelection the paper
  // selected before stays selected wherever it now stands.
  void ReopenMainList(bool keepSelection);
  // "　　试卷列表　　" until a list is filtered; then the exam (or all papers) and the count.
  void UpdateTabCaption();

  QString m_connectionName;
  QSqlDatabase m_database;
  store::ResultSet* m_mainList = nullptr;
  exchange::CatalogueUpdateWindow* m_catalogueUpdate = nullptr;
  exchange::ProgramUpdateWindow* m_programUpdate = nullptr;
  exchange::PaperDownloadWindow* m_paperDownload = nullptr;
  ui::CountdownTrigger m_countdown;
  // What the main list shows: the exam chosen in the tree (empty before the first choice), the search text, and the
  // column the user ordered it by (empty: the list's own order).
  QString m_exam;
  QString m_searchText;
  QString m_sortField;
  Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
  std::string m_contentServer;
  std::string m_versionServer;
  // A check is running from its request until its message is dismissed; the same check never starts again inside
  // itself (the other one may: the new-paper check runs while the version message is open).
  bool m_versionCheckRunning = false;
  bool m_newPaperCheckRunning = false;
  int m_hideAnimationMs = ui::kHideAnimationMs;
};

}  // namespace app
