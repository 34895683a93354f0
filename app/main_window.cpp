#include "app/main_window.h"

#include "exchange/catalogue_update_window.h"
#include "exchange/program_update_window.h"
#include "exchange/paper_download_window.h"
#include "ui/gbk_text.h"
#include "exchange/download_folder.h"
#include "exchange/server_pages.h"
#include "exchange/paper_path.h"
#include "exchange/query_value.h"
#include "store/result_set.h"
#include "store/statements.h"
#include "ui/data_grid.h"
#include "ui/error_report.h"
#include "ui/seams.h"
#include "vextal_config.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <atomic>
#include <initializer_list>

namespace app {
namespace {

constexpr const char* kProductName = "Vextal";
constexpr const char* kProductLabel = "Dovrin产品：";
// Both tab captions are padded with ideographic spaces (U+3000), so the tab looks the same width in Chinese text.
constexpr const char* kListTabCaption = "　　试卷列表　　";
constexpr const char* kTabPadding = "　　";
constexpr const char* kTabCountPrefix = "　　共计　";
constexpr const char* kTabCountSuffix = "　套试卷";
// The tab's name for a search of the whole catalogue, before any exam is chosen.
constexpr const char* kAllPapers = "全部试卷";
constexpr const char* kSearchPlaceholder = "搜索试卷名称";
// Long enough that a word typed at normal speed is searched once, short enough to feel immediate.
constexpr int kSearchPauseMs = 250;
constexpr int kSearchFieldWidth = 220;
constexpr const char* kExamCivilService = "公务员考试";
constexpr const char* kExamCollegeEntrance = "高考";
// The content server's whole answer when it has no paper above the mark; anything else means new papers.
constexpr const char* kNoNewPapers = "0";
constexpr const char* kNewVersionMessage = "软件有了新版本，注意更新，点击\"更新软件\"！";
constexpr const char* kNewPapersMessage = "有新试卷了，请注意更新，点击\"更新题库\"！";
// Shown instead of opening a "paper" whose file type runs code (an earlier version downloaded whatever it was sent).
constexpr const char* kRunnableNotOpenedMessage = "没有打开“%1”：这种文件会运行程序，可能不安全。";
// Shown instead of opening a name that points out of the download folder (a catalogue edited or copied from elsewhere).
constexpr const char* kMissingPaperQuestion = "试卷文件“%1”不在下载文件夹中，是否重新下载？";
constexpr const char* kOutsideFolderNotOpenedMessage = "没有打开“%1”：这个文件名指向下载文件夹以外。";
// The process ends right after the close animation; nobody reads its exit code.
constexpr int kCloseExitCode = 0;

// Layout, in pixels at 96 dpi.
constexpr int kTopBandHeight = 33;
constexpr int kTopBandMargin = 8;
constexpr int kLeftPanelWidth = 185;
constexpr int kSplitterWidth = 12;
constexpr int kTreeIndent = 19;
constexpr int kProductLabelPixels = 19;
constexpr int kLinkLabelPixels = 16;
constexpr int kBodyPixels = 14;
constexpr int kCellPadding = 12;
constexpr int kDownloadTimeColumn = 7;
const QColor kProductLabelColour(0, 128, 0);

QFont SongTi(int pixels) {
  QFont font;
  // SimSun where it exists; elsewhere the font system substitutes its own CJK face for the family names.
  font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun")});
  font.setPixelSize(pixels);
  return font;
}

QFont LiShu(int pixels) {
  QFont font;
  font.setFamilies({QStringLiteral("LiSu"), QStringLiteral("隶书"), QStringLiteral("STLiti")});
  font.setPixelSize(pixels);
  return font;
}

QVector<ui::GridColumn> PaperGridColumns() {
  // F_bh, F_MS and F_BDWJ are not shown.
  return {
      {QStringLiteral("F_id"), QStringLiteral("编号"), 34, Qt::AlignLeft},
      {QStringLiteral("F_SJMC"), QStringLiteral("题目名称"), 296, Qt::AlignLeft},
      {QStringLiteral("F_KM"), QStringLiteral("职考名称"), 82, Qt::AlignLeft},
      {QStringLiteral("F_ZFL1"), QStringLiteral("科目"), 98, Qt::AlignLeft},
      {QStringLiteral("F_LB"), QStringLiteral("类别"), 100, Qt::AlignLeft},
      {QStringLiteral("F_ZT"), QStringLiteral("是否下载"), 92, Qt::AlignHCenter},
      {QStringLiteral("F_BZ"), QStringLiteral("备注"), 75, Qt::AlignLeft},
      {QStringLiteral("F_GXSJ"), QStringLiteral("下载时间"), 0, Qt::AlignLeft},
  };
}

// The toolkit's default column width would cut the download time short; this one fits a full date and time.
int DownloadTimeColumnWidth(const QFontMetrics& metrics) {
  return metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + kCellPadding;
}

// Each main window gets a connection of its own name, so a second window (in tests) never replaces the first one's.
QString NextConnectionName() {
  static std::atomic<int> counter{0};
  const int n = counter.fetch_add(1);
  return n == 0 ? QStringLiteral("catalogue") : QStringLiteral("catalogue-%1").arg(n);
}

}  // namespace

MainWindow::MainWindow(const QString& databasePath)
    : CountdownTimer(new QTimer(this)),
      CountdownText(new QLineEdit(this)),
      SearchPause(new QTimer(this)),
      m_connectionName(NextConnectionName()),
      m_countdown(*CountdownTimer, *CountdownText),
      m_contentServer(vextal::kContentServer),
      m_versionServer(vextal::kVersionServer) {
  Client.ReadTimeout = download::kSilentLinkLimitMs;
  m_database = store::OpenCatalogue(databasePath, m_connectionName);
  m_mainList = new store::ResultSet(m_database, this);
  m_mainList->SetStatement(store::DefaultListStatement());
  m_mainList->Open();

  BuildControls();
  BuildMenu();
}

MainWindow::~MainWindow() {
  // The grid and the list go before the connection is dropped, so nothing holds it when it is removed.
  delete PaperGrid;
  delete m_mainList;
  m_database = QSqlDatabase();
  QSqlDatabase::removeDatabase(m_connectionName);
}

void MainWindow::BuildControls() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(BuildTopBand(central));

  Splitter = new QSplitter(Qt::Horizontal, central);
  Splitter->setObjectName(QStringLiteral("Splitter"));
  Splitter->setHandleWidth(kSplitterWidth);
  Splitter->setChildrenCollapsible(false);
  Splitter->addWidget(BuildTreePanel(Splitter));
  Splitter->addWidget(BuildListTabs(Splitter));
  Splitter->setStretchFactor(0, 0);
  Splitter->setStretchFactor(1, 1);
  Splitter->setSizes({kLeftPanelWidth, kLeftPanelWidth * 4});
  TreePanel->setMinimumWidth(0);
  column->addWidget(Splitter, 1);
  setCentralWidget(central);

  BuildStatusBar();
  BuildCountdown();
  // The tree is the first control in tab order and takes the focus when the window opens. Taking the focus does not
  // select its first item (unlike the native tree control), so the default list and its caption stay until the user
  // picks an exam.
  setTabOrder(ExamTree, PaperGrid);
}

QWidget* MainWindow::BuildTopBand(QWidget* parent) {
  TopBand = new QWidget(parent);
  TopBand->setObjectName(QStringLiteral("TopBand"));
  TopBand->setFixedHeight(kTopBandHeight);
  auto* band = new QHBoxLayout(TopBand);
  band->setContentsMargins(kTopBandMargin, 0, kTopBandMargin, 0);
  ProductLabel = new QLabel(QString::fromUtf8(kProductLabel), TopBand);
  ProductLabel->setObjectName(QStringLiteral("ProductLabel"));
  ProductLabel->setFont(SongTi(kProductLabelPixels));
  QPalette green = ProductLabel->palette();
  green.setColor(QPalette::WindowText, kProductLabelColour);
  ProductLabel->setPalette(green);
  PublisherLink = new QLabel(QString::fromUtf8(vextal::kPublisherUrl), TopBand);
  PublisherLink->setObjectName(QStringLiteral("PublisherLink"));
  PublisherLink->setFont(LiShu(kLinkLabelPixels));
  PublisherLink->setCursor(Qt::PointingHandCursor);
  PublisherLink->installEventFilter(this);
  band->addWidget(ProductLabel);
  band->addWidget(PublisherLink);
  band->addStretch(1);
  // At the far end of the band, where it moves none of the band's labels nor anything below.
  SearchField = new QLineEdit(TopBand);
  SearchField->setObjectName(QStringLiteral("SearchField"));
  SearchField->setPlaceholderText(QString::fromUtf8(kSearchPlaceholder));
  SearchField->setClearButtonEnabled(true);
  SearchField->setFont(SongTi(kBodyPixels));
  SearchField->setFixedWidth(kSearchFieldWidth);
  SearchField->installEventFilter(this);
  band->addWidget(SearchField);
  connect(SearchField, &QLineEdit::textChanged, this, [this] { ui::Guarded([this] { OnSearchTextEdited(); }); });
  SearchPause->setObjectName(QStringLiteral("SearchPause"));
  SearchPause->setSingleShot(true);
  SearchPause->setInterval(kSearchPauseMs);
  connect(SearchPause, &QTimer::timeout, this, [this] { ui::Guarded([this] { SearchAfterPause(); }); });
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    SearchField->setFocus(Qt::ShortcutFocusReason);
    SearchField->selectAll();
  });
  return TopBand;
}

QWidget* MainWindow::BuildTreePanel(QWidget* parent) {
  TreePanel = new QWidget(parent);
  TreePanel->setObjectName(QStringLiteral("TreePanel"));
  auto* left = new QVBoxLayout(TreePanel);
  left->setContentsMargins(0, 0, 0, 0);
  // The version label lies under the tree, which covers it: it is there, never seen.
  VersionLabel = new QLabel(TreePanel);
  VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
  VersionLabel->move(0, 0);
  ExamTree = new QTreeWidget(TreePanel);
  ExamTree->setObjectName(QStringLiteral("ExamTree"));
  ExamTree->setHeaderHidden(true);
  ExamTree->setIndentation(kTreeIndent);
  ExamTree->setFont(SongTi(kBodyPixels));
  ExamTree->setSelectionMode(QAbstractItemView::SingleSelection);
  ExamTree->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromUtf8(kExamCivilService)}));
  ExamTree->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromUtf8(kExamCollegeEntrance)}));
  left->addWidget(ExamTree);
  VersionLabel->lower();
  connect(ExamTree, &QTreeWidget::itemSelectionChanged, this, [this] {
    const QList<QTreeWidgetItem*> selected = ExamTree->selectedItems();
    if (!selected.isEmpty()) {
      ui::Guarded([&] { ChooseExam(selected.first()); });
    }
  });
  return TreePanel;
}

QWidget* MainWindow::BuildListTabs(QWidget* parent) {
  ListTabs = new QTabWidget(parent);
  ListTabs->setObjectName(QStringLiteral("ListTabs"));
  ListTabs->setFont(SongTi(kBodyPixels));
  ListTab = new QWidget(ListTabs);
  ListTab->setObjectName(QStringLiteral("ListTab"));
  auto* sheet = new QVBoxLayout(ListTab);
  sheet->setContentsMargins(0, 0, 0, 0);
  PaperGrid = new ui::DataGrid(m_mainList, PaperGridColumns(), ListTab);
  PaperGrid->setObjectName(QStringLiteral("PaperGrid"));
  PaperGrid->setFont(SongTi(kBodyPixels));
  PaperGrid->horizontalHeader()->setFont(SongTi(kBodyPixels));
  PaperGrid->setColumnWidth(kDownloadTimeColumn, DownloadTimeColumnWidth(PaperGrid->fontMetrics()));
  sheet->addWidget(PaperGrid);
  ListTabs->addTab(ListTab, QString::fromUtf8(kListTabCaption));
  connect(PaperGrid, &ui::DataGrid::DblClick, this, [this] { ui::Guarded([this] { OpenOrDownloadRow(); }); });
  connect(PaperGrid, &ui::DataGrid::TitleClick, this, [this](const QString& field, Qt::SortOrder order) {
    ui::Guarded([&] { SortByColumn(field, order); });
  });
  return ListTabs;
}

void MainWindow::BuildStatusBar() {
  StatusLine = new QStatusBar(this);
  StatusLine->setObjectName(QStringLiteral("StatusLine"));
  setStatusBar(StatusLine);
}

void MainWindow::BuildCountdown() {
  CountdownTimer->setObjectName(QStringLiteral("CountdownTimer"));
  CountdownTimer->setInterval(ui::kCountdownPeriodMs);
  CountdownText->setObjectName(QStringLiteral("CountdownText"));
  CountdownText->hide();
  // Queued: the toolkit delivers no further tick of a timer while that timer's own handler runs, and a check's handler
  // may sit in a message box for a long time. Run from the event queue, the handler leaves the timer free to tick on
  // inside the message's event loop (and inside a request's pump), as a message box open at the 25 reading needs.
  connect(
      CountdownTimer, &QTimer::timeout, this, [this] { ui::Guarded([this] { OnCountdownTick(); }); },
      Qt::QueuedConnection);
}

void MainWindow::BuildMenu() {
  QMenuBar* bar = menuBar();
  auto guarded = [this](QAction* action, void (MainWindow::*handler)()) {
    connect(action, &QAction::triggered, this, [this, handler] { ui::Guarded([this, handler] { (this->*handler)(); }); });
  };

  FileMenu = bar->addMenu(QStringLiteral("文件"));
  QuitAction = FileMenu->addAction(QStringLiteral("退出"));
  guarded(QuitAction, &MainWindow::Quit);

  PaperListAction = bar->addAction(QStringLiteral("题库列表"));
  guarded(PaperListAction, &MainWindow::ShowPaperList);

  PaperMenu = bar->addMenu(QStringLiteral("下载/打开"));
  DownloadPaperAction = PaperMenu->addAction(QStringLiteral("下载试卷"));
  guarded(DownloadPaperAction, &MainWindow::DownloadSelectedPaper);
  OpenPaperAction = PaperMenu->addAction(QStringLiteral("打开试卷"));
  guarded(OpenPaperAction, &MainWindow::OpenSelectedPaper);

  UpdateMenu = bar->addMenu(QStringLiteral("更新"));
  UpdateCatalogueAction = UpdateMenu->addAction(QStringLiteral("更新题库"));
  guarded(UpdateCatalogueAction, &MainWindow::UpdateCatalogue);
  UpdateProgramAction = UpdateMenu->addAction(QStringLiteral("更新软件"));
  guarded(UpdateProgramAction, &MainWindow::UpdateProgram);

  ExitAction = bar->addAction(QStringLiteral("退出系统"));
  guarded(ExitAction, &MainWindow::Quit);
}

void MainWindow::SetTaskWindows(exchange::CatalogueUpdateWindow* catalogueUpdate,
                                exchange::ProgramUpdateWindow* programUpdate,
                                exchange::PaperDownloadWindow* paperDownload) {
  m_catalogueUpdate = catalogueUpdate;
  m_programUpdate = programUpdate;
  m_paperDownload = paperDownload;
}

QString MainWindow::VersionText() const { return VersionLabel->text(); }

void MainWindow::SetServers(const std::string& contentOrigin, const std::string& versionOrigin) {
  m_contentServer = contentOrigin;
  m_versionServer = versionOrigin;
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) {
    ui::Guarded([this] { OnShown(); });
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  ui::Guarded([this] { EndAfterHideAnimation(); });
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == SearchField && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !SearchField->text().isEmpty()) {
    SearchField->clear();
    return true;
  }
  if (watched == PublisherLink && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    ui::Guarded([this] { OpenPublisherSite(); });
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::OnShown() {
  VersionLabel->setText(QString::fromLatin1(vextal::kVersionText));
  // The whole desktop, from its top-left corner: the catalogue wants every pixel it can get.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->geometry();
    move(0, 0);
    resize(desktop.right() + 1, desktop.bottom() + 1);
  }
  setWindowTitle(QString::fromLatin1(kProductName) + VersionText());
  ExamTree->setFocus();
  m_countdown.Arm();
}

void MainWindow::EndAfterHideAnimation() {
  // The animation's wait serves the event queue: a tick queued there must not start a request, which would hold the
  // process beyond the animation for as long as the server takes. A stopped countdown lets such a tick pass idle.
  m_countdown.Stop();
  for (ui::TaskWindow* window : std::initializer_list<ui::TaskWindow*>{m_catalogueUpdate, m_programUpdate, m_paperDownload}) {
    if (window) {
      window->Countdown().Stop();
    }
  }
  ui::AnimateHide(this, m_hideAnimationMs);
  // Nothing else is closed in order: the connection, the other windows and any request in flight just end here.
  ui::processes().EndProcess(kCloseExitCode);
}

void MainWindow::OnCountdownTick() {
  m_countdown.Tick();
  if (m_countdown.Fires(ui::kReading28) && !m_versionCheckRunning) {
    CheckVersion();
  }
  // The field is read again: ticks dispatched while the version request waited (skipped then, the client being busy)
  // may have brought it to the 25 reading. A timer stopped meanwhile means the user dismissed a message or started an
  // update, and then no check runs any more.
  if (m_countdown.Running() && m_countdown.Fires(ui::kReading25) && !m_newPaperCheckRunning) {
    CheckForNewPapers();
  }
}

void MainWindow::CheckVersion() {
  QScopedValueRollback<bool> running(m_versionCheckRunning, true);
  std::string answer;
  {
    // Only the request holds the client: while the message below is open, the new-paper check may still run.
    ui::CountdownTrigger::ActionScope request(m_countdown);
    answer = Client.GetText(m_versionServer + exchange::kVersionPage, exchange::kMaxPageBytes);
  }
  const exchange::VersionAnswer version = exchange::ReadVersionAnswer(answer);
  // A page in the version's place is a failed check, reported as a failed request is, never news of a version.
  if (version == exchange::VersionAnswer::kNoVersion) throw exchange::InterceptedAnswer();
  if (version == exchange::VersionAnswer::kAnotherVersion) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kNewVersionMessage));
    m_countdown.Stop();
  }
}

void MainWindow::CheckForNewPapers() {
  if (!m_catalogueUpdate) {
    return;
  }
  QScopedValueRollback<bool> running(m_newPaperCheckRunning, true);
  const std::string mark = exchange::QueryValueOf(ui::EncodeGbk(m_catalogueUpdate->HighestServerNumber()));
  std::string answer;
  {
    ui::CountdownTrigger::ActionScope request(m_countdown);
    answer = Client.GetText(m_contentServer + exchange::kNewPaperPage + mark, exchange::kMaxPageBytes);
  }
  if (answer != kNoNewPapers) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kNewPapersMessage));
    m_countdown.Stop();
  }
}

void MainWindow::ChooseExam(QTreeWidgetItem* node) {
  m_exam = node->text(0);
  ReopenMainList(false);
  ListTabs->setCurrentIndex(0);
}

void MainWindow::SortByColumn(const QString& field, Qt::SortOrder order) {
  m_sortField = field;
  m_sortOrder = order;
  ReopenMainList(true);
}

void MainWindow::OnSearchTextEdited() { SearchPause->start(); }

void MainWindow::SearchAfterPause() {
  if (SearchField->text() == m_searchText) {
    return;
  }
  m_searchText = SearchField->text();
  ReopenMainList(false);
}

void MainWindow::ReopenMainList(bool keepSelection) {
  const qint64 selected = keepSelection ? m_mainList->CurrentId() : -1;
  // No search and no order: exactly the described lists, the newest 100 or the exam's papers.
  store::ListQuery list = store::SearchStatement(m_exam, m_searchText);
  if (!m_sortField.isEmpty()) {
    list = store::SortedStatement(list, m_sortField, m_sortOrder);
  }
  m_mainList->Close();
  m_mainList->SetStatement(list);
  m_mainList->Open();
  if (selected >= 0) {
    m_mainList->SetCurrentRow(m_mainList->RowOfId(selected));
  }
  UpdateTabCaption();
}

void MainWindow::UpdateTabCaption() {
  if (m_exam.isEmpty() && m_searchText.isEmpty()) {
    ListTabs->setTabText(0, QString::fromUtf8(kListTabCaption));
    return;
  }
  const QString name = m_exam.isEmpty() ? QString::fromUtf8(kAllPapers) : m_exam;
  ListTabs->setTabText(0, QString::fromUtf8(kTabPadding) + name + QString::fromUtf8(kTabCountPrefix) +
                                  QString::number(m_mainList->RecordCount()) + QString::fromUtf8(kTabCountSuffix));
}

void MainWindow::OpenOrDownloadRow() {
  // Both tests run on every double-click; the download only starts a moment later, so one double-click never does
  // both.
  if (m_mainList->FieldAsText(QStringLiteral("F_ZT")) == QString::fromUtf8(store::kStatusToDownload)) {
    DownloadSelectedPaper();
  }
  if (m_mainList->FieldAsText(QStringLiteral("F_ZT")) == QString::fromUtf8(store::kStatusOpen)) {
    OpenSelectedPaper();
  }
}

void MainWindow::Quit() { close(); }

void MainWindow::ShowPaperList() { ListTabs->setCurrentIndex(0); }

void MainWindow::UpdateCatalogue() {
  m_countdown.Stop();
  if (m_catalogueUpdate) {
    m_catalogueUpdate->ShowForCommand();
  }
}

void MainWindow::UpdateProgram() {
  m_countdown.Stop();
  if (m_programUpdate) {
    m_programUpdate->ShowForCommand();
  }
}

void MainWindow::DownloadSelectedPaper() {
  if (m_paperDownload) {
    m_paperDownload->ShowForCommand();
  }
}

void MainWindow::OpenSelectedPaper() {
  // No check that the row was downloaded: an empty F_BDWJ opens the download folder itself.
  const QString file = m_mainList->FieldAsText(QStringLiteral("F_BDWJ"));
  if (file.isEmpty()) {
    ui::shell().Open(exchange::DownloadFolder());
    return;
  }
  // The name came from a server over plain HTTP: the shell would run a program rather than show a paper. Tested on
  // the name's own characters in UTF-8, which keeps ASCII as it is and writes nothing else below 0x80: a name may
  // hold a character GBK cannot write (bytes the converter could not read became U+FFFD).
  if (exchange::IsRunnableFileName(file.toUtf8().toStdString())) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kRunnableNotOpenedMessage).arg(file));
    return;
  }
  // A catalogue from elsewhere may hold any name; only a file inside the download folder is opened.
  const QString path = exchange::PaperFilePath(file);
  if (path.isEmpty()) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kOutsideFolderNotOpenedMessage).arg(file));
    return;
  }
  // Moved or deleted since it was downloaded: the shell would only show an error of its own, and the row would go on
  // claiming the paper is here.
  if (!QFileInfo(path).isFile()) {
    const qint64 id = m_mainList->CurrentId();
    if (ui::dialogs().Ask(QString::fromUtf8(kMissingPaperQuestion).arg(file))) {
      DownloadSelectedPaper();
    } else {
      m_mainList->UpdateById(id, {{QStringLiteral("F_ZT"), QString::fromUtf8(store::kStatusToDownload)}});
    }
    return;
  }
  ui::shell().Open(path);
}

void MainWindow::OpenPublisherSite() { ui::shell().Open(QString::fromUtf8(vextal::kPublisherUrl)); }

}  // namespace app
