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

class TAddSp;
class TForm3;
class TGengXinChengXun;

namespace store {
class ResultSet;
}

namespace ui {
class DataGrid;
}

// The main window: the exam tree beside the paper grid, the menu commands that show the task windows, opening a
// downloaded paper, and the process end when it closes. Creating it opens the catalogue and the main list, and throws
// store::DatabaseError when the catalogue cannot be opened.
class TForm2 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm2(const QString& databasePath = QString::fromLatin1(store::kCatalogueFile));
  ~TForm2() override;

  // The task windows the menu and the grid show; created after this window, so handed in afterwards.
  void SetTaskWindows(TAddSp* addSp, TGengXinChengXun* gengXinChengXun, TForm3* form3);

  QSqlDatabase Database() const { return m_database; }
  store::ResultSet* MainList() const { return m_mainList; }
  ui::CountdownTrigger& Countdown() { return m_countdown; }
  // The version text the checks compare with; held in Label1 as the program always did.
  QString VersionText() const;

  // Where the background checks ask: origins such as "http://host:port", without a trailing "/". The build-time
  // origins unless a test points the window at its own servers.
  void SetServers(const std::string& contentOrigin, const std::string& versionOrigin);

  // Tests shorten the close animation; the program always plays it for its full length.
  void SetHideAnimationMs(int ms) { m_hideAnimationMs = ms; }

  // Handlers, named as the program's documentation names them.
  void FormShow();
  void FormClose();
  void Timer1Timer();
  void TreeView1Change(QTreeWidgetItem* node);
  void DBGrid1DblClick();
  // A click on a column title: the list is ordered by that column, in the database.
  void DBGrid1TitleClick(const QString& field, Qt::SortOrder order);
  // The search field: each change waits for a short pause in typing (Timer2) before the list is searched.
  void Edit2Change();
  void Timer2Timer();
  void N2Click();   // 文件 / 退出
  void N3Click();   // 题库列表
  void N8Click();   // 更新 / 更新题库
  void N9Click();   // 更新 / 更新软件
  void N11Click();  // 下载/打开 / 下载试卷
  void N12Click();  // 下载/打开 / 打开试卷
  void N13Click();  // 退出系统
  void Label3Click();

  // Controls.
  QWidget* Panel1 = nullptr;  // the top band
  QLabel* Label2 = nullptr;   // "Dovrin产品："
  QLabel* Label3 = nullptr;   // the publisher's web address
  QWidget* Panel2 = nullptr;  // the left panel
  QTreeWidget* TreeView1 = nullptr;
  QLabel* Label1 = nullptr;  // the version text, under the tree
  QSplitter* Splitter1 = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  ui::DataGrid* DBGrid1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLineEdit* Edit2 = nullptr;  // the search field, at the right end of the top band
  QTimer* const Timer1;
  QLineEdit* const Edit1;  // the countdown text, never shown
  QTimer* const Timer2;    // the pause after typing in the search field
  net::HttpClient IdHTTP1;  // the background checks' one client, default configuration
  QMenu* N1 = nullptr;         // 文件
  QAction* N2 = nullptr;       // 退出
  QAction* N3 = nullptr;       // 题库列表
  QMenu* N10 = nullptr;        // 下载/打开
  QAction* N11 = nullptr;      // 下载试卷
  QAction* N12 = nullptr;      // 打开试卷
  QMenu* N7 = nullptr;         // 更新
  QAction* N8 = nullptr;       // 更新题库
  QAction* N9 = nullptr;       // 更新软件
  QAction* N13 = nullptr;      // 退出系统

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  // The two background checks, at the 28 and the 25 reading.
  void VersionCheck();
  void NewPaperCheck();
  // The main list for the exam chosen, the search text and the column order, reopened; with keepSelection the paper
  // selected before stays selected wherever it now stands.
  void ReopenMainList(bool keepSelection);
  // "　　试卷列表　　" until a list is filtered; then the exam (or all papers) and the count.
  void UpdateTabCaption();

  QString m_connectionName;
  QSqlDatabase m_database;
  store::ResultSet* m_mainList = nullptr;
  TAddSp* m_addSp = nullptr;
  TGengXinChengXun* m_gengXinChengXun = nullptr;
  TForm3* m_form3 = nullptr;
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

extern TForm2* Form2;
