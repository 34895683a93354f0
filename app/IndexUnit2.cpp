#include "app/IndexUnit2.h"

#include "exchange/AddUnit3.h"
#include "exchange/GengXingChengXuUnit3.h"
#include "exchange/JinDuTiaoUnit3.h"
#include "exchange/gbk_text.h"
#include "exchange/page_limits.h"
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

TForm2* Form2 = nullptr;

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
constexpr const char* kDownloadFolder = "/DownLoad/";
constexpr const char* kVersionPage = "/vextal.asp";
constexpr const char* kNewPaperPage = "/admin/ZPR_UpCount1.asp?id=";
// The content server's whole answer when it has no paper above the mark; anything else means new papers.
constexpr const char* kNoNewPapers = "0";
constexpr const char* kNewVersionMessage = "软件有了新版本，注意更新，点击\"更新软件\"！";
constexpr const char* kNewPapersMessage = "有新试卷了，请注意更新，点击\"更新题库\"！";
// Shown instead of opening a "paper" whose file type runs code (an earlier version downloaded whatever it was sent).
constexpr const char* kRunnableNotOpenedMessage = "没有打开“%1”：这种文件会运行程序，可能不安全。";
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

TForm2::TForm2(const QString& databasePath)
    : Timer1(new QTimer(this)),
      Edit1(new QLineEdit(this)),
      Timer2(new QTimer(this)),
      m_connectionName(NextConnectionName()),
      m_countdown(*Timer1, *Edit1),
      m_contentServer(vextal::kContentServer),
      m_versionServer(vextal::kVersionServer) {
  m_database = store::OpenCatalogue(databasePath, m_connectionName);
  m_mainList = new store::ResultSet(m_database, this);
  m_mainList->SetStatement(store::DefaultListStatement());
  m_mainList->Open();

  BuildControls();
  BuildMenu();
}

TForm2::~TForm2() {
  // The grid and the list go before the connection is dropped, so nothing holds it when it is removed.
  delete DBGrid1;
  delete m_mainList;
  m_database = QSqlDatabase();
  QSqlDatabase::removeDatabase(m_connectionName);
}

void TForm2::BuildControls() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(kTopBandHeight);
  auto* band = new QHBoxLayout(Panel1);
  band->setContentsMargins(kTopBandMargin, 0, kTopBandMargin, 0);
  Label2 = new QLabel(QString::fromUtf8(kProductLabel), Panel1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setFont(SongTi(kProductLabelPixels));
  QPalette green = Label2->palette();
  green.setColor(QPalette::WindowText, kProductLabelColour);
  Label2->setPalette(green);
  Label3 = new QLabel(QString::fromUtf8(vextal::kPublisherUrl), Panel1);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setFont(LiShu(kLinkLabelPixels));
  Label3->setCursor(Qt::PointingHandCursor);
  Label3->installEventFilter(this);
  band->addWidget(Label2);
  band->addWidget(Label3);
  band->addStretch(1);
  // At the far end of the band, where it moves none of the band's labels nor anything below.
  Edit2 = new QLineEdit(Panel1);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setPlaceholderText(QString::fromUtf8(kSearchPlaceholder));
  Edit2->setClearButtonEnabled(true);
  Edit2->setFont(SongTi(kBodyPixels));
  Edit2->setFixedWidth(kSearchFieldWidth);
  Edit2->installEventFilter(this);
  band->addWidget(Edit2);
  column->addWidget(Panel1);

  Splitter1 = new QSplitter(Qt::Horizontal, central);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setChildrenCollapsible(false);

  Panel2 = new QWidget(Splitter1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  auto* left = new QVBoxLayout(Panel2);
  left->setContentsMargins(0, 0, 0, 0);
  // Label1 carries the version text and lies under the tree, which covers it: it is there, never seen.
  Label1 = new QLabel(Panel2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(0, 0);
  TreeView1 = new QTreeWidget(Panel2);
  TreeView1->setObjectName(QStringLiteral("TreeView1"));
  TreeView1->setHeaderHidden(true);
  TreeView1->setIndentation(kTreeIndent);
  TreeView1->setFont(SongTi(kBodyPixels));
  TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
  TreeView1->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromUtf8(kExamCivilService)}));
  TreeView1->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromUtf8(kExamCollegeEntrance)}));
  left->addWidget(TreeView1);
  Label1->lower();

  PageControl1 = new QTabWidget(Splitter1);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setFont(SongTi(kBodyPixels));
  TabSheet1 = new QWidget(PageControl1);
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  auto* sheet = new QVBoxLayout(TabSheet1);
  sheet->setContentsMargins(0, 0, 0, 0);
  DBGrid1 = new ui::DataGrid(m_mainList, PaperGridColumns(), TabSheet1);
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->setFont(SongTi(kBodyPixels));
  DBGrid1->horizontalHeader()->setFont(SongTi(kBodyPixels));
  DBGrid1->setColumnWidth(kDownloadTimeColumn, DownloadTimeColumnWidth(DBGrid1->fontMetrics()));
  sheet->addWidget(DBGrid1);
  PageControl1->addTab(TabSheet1, QString::fromUtf8(kListTabCaption));

  Splitter1->addWidget(Panel2);
  Splitter1->addWidget(PageControl1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({kLeftPanelWidth, kLeftPanelWidth * 4});
  Panel2->setMinimumWidth(0);
  column->addWidget(Splitter1, 1);
  setCentralWidget(central);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  setStatusBar(StatusBar1);

  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(ui::kCountdownPeriodMs);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->hide();

  // The tree is the first control in tab order and takes the focus when the window opens. Taking the focus does not
  // select its first item (unlike the native tree control), so the default list and its caption stay until the user
  // picks an exam.
  setTabOrder(TreeView1, DBGrid1);
  connect(TreeView1, &QTreeWidget::itemSelectionChanged, this, [this] {
    const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
    if (!selected.isEmpty()) {
      ui::Guarded([&] { TreeView1Change(selected.first()); });
    }
  });
  connect(DBGrid1, &ui::DataGrid::DblClick, this, [this] { ui::Guarded([this] { DBGrid1DblClick(); }); });
  connect(DBGrid1, &ui::DataGrid::TitleClick, this, [this](const QString& field, Qt::SortOrder order) {
    ui::Guarded([&] { DBGrid1TitleClick(field, order); });
  });
  connect(Edit2, &QLineEdit::textChanged, this, [this] { ui::Guarded([this] { Edit2Change(); }); });
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setSingleShot(true);
  Timer2->setInterval(kSearchPauseMs);
  connect(Timer2, &QTimer::timeout, this, [this] { ui::Guarded([this] { Timer2Timer(); }); });
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    Edit2->setFocus(Qt::ShortcutFocusReason);
    Edit2->selectAll();
  });
  // Queued: the toolkit delivers no further tick of a timer while that timer's own handler runs, and a check's handler
  // may sit in a message box for a long time. Run from the event queue, the handler leaves the timer free to tick on
  // inside the message's event loop (and inside a request's pump), as a message box open at the 25 reading needs.
  connect(
      Timer1, &QTimer::timeout, this, [this] { ui::Guarded([this] { Timer1Timer(); }); }, Qt::QueuedConnection);
}

void TForm2::BuildMenu() {
  QMenuBar* bar = menuBar();
  auto guarded = [this](QAction* action, void (TForm2::*handler)()) {
    connect(action, &QAction::triggered, this, [this, handler] { ui::Guarded([this, handler] { (this->*handler)(); }); });
  };

  N1 = bar->addMenu(QStringLiteral("文件"));
  N2 = N1->addAction(QStringLiteral("退出"));
  guarded(N2, &TForm2::N2Click);

  N3 = bar->addAction(QStringLiteral("题库列表"));
  guarded(N3, &TForm2::N3Click);

  N10 = bar->addMenu(QStringLiteral("下载/打开"));
  N11 = N10->addAction(QStringLiteral("下载试卷"));
  guarded(N11, &TForm2::N11Click);
  N12 = N10->addAction(QStringLiteral("打开试卷"));
  guarded(N12, &TForm2::N12Click);

  N7 = bar->addMenu(QStringLiteral("更新"));
  N8 = N7->addAction(QStringLiteral("更新题库"));
  guarded(N8, &TForm2::N8Click);
  N9 = N7->addAction(QStringLiteral("更新软件"));
  guarded(N9, &TForm2::N9Click);

  N13 = bar->addAction(QStringLiteral("退出系统"));
  guarded(N13, &TForm2::N13Click);
}

void TForm2::SetTaskWindows(TAddSp* addSp, TGengXinChengXun* gengXinChengXun, TForm3* form3) {
  m_addSp = addSp;
  m_gengXinChengXun = gengXinChengXun;
  m_form3 = form3;
}

QString TForm2::VersionText() const { return Label1->text(); }

void TForm2::SetServers(const std::string& contentOrigin, const std::string& versionOrigin) {
  m_contentServer = contentOrigin;
  m_versionServer = versionOrigin;
}

void TForm2::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) {
    ui::Guarded([this] { FormShow(); });
  }
}

void TForm2::closeEvent(QCloseEvent* event) {
  ui::Guarded([this] { FormClose(); });
  event->accept();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit2 && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !Edit2->text().isEmpty()) {
    Edit2->clear();
    return true;
  }
  if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    ui::Guarded([this] { Label3Click(); });
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm2::FormShow() {
  Label1->setText(QString::fromLatin1(vextal::kVersionText));
  // The whole desktop, from its top-left corner: the catalogue wants every pixel it can get.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->geometry();
    move(0, 0);
    resize(desktop.right() + 1, desktop.bottom() + 1);
  }
  setWindowTitle(QString::fromLatin1(kProductName) + VersionText());
  TreeView1->setFocus();
  m_countdown.Arm();
}

void TForm2::FormClose() {
  // The animation's wait serves the event queue: a tick queued there must not start a request, which would hold the
  // process beyond the animation for as long as the server takes. A stopped countdown lets such a tick pass idle.
  m_countdown.Stop();
  for (ui::TaskWindow* window : std::initializer_list<ui::TaskWindow*>{m_addSp, m_gengXinChengXun, m_form3}) {
    if (window) {
      window->Countdown().Stop();
    }
  }
  ui::AnimateHide(this, m_hideAnimationMs);
  // Nothing else is closed in order: the connection, the other windows and any request in flight just end here.
  ui::processes().EndProcess(kCloseExitCode);
}

void TForm2::Timer1Timer() {
  m_countdown.Tick();
  if (m_countdown.Fires(ui::kReading28) && !m_versionCheckRunning) {
    VersionCheck();
  }
  // The field is read again: ticks dispatched while the version request waited (skipped then, the client being busy)
  // may have brought it to the 25 reading. A timer stopped meanwhile means the user dismissed a message or started an
  // update, and then no check runs any more.
  if (m_countdown.Running() && m_countdown.Fires(ui::kReading25) && !m_newPaperCheckRunning) {
    NewPaperCheck();
  }
}

void TForm2::VersionCheck() {
  QScopedValueRollback<bool> running(m_versionCheckRunning, true);
  std::string answer;
  {
    // Only the request holds the client: while the message below is open, the new-paper check may still run.
    ui::CountdownTrigger::ActionScope request(m_countdown);
    answer = IdHTTP1.GetText(m_versionServer + kVersionPage, exchange::kMaxPageBytes);
  }
  // Byte for byte: "3.1" with a trailing line break or blank is another version as far as the server is concerned.
  if (answer != exchange::EncodeGbk(VersionText())) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kNewVersionMessage));
    m_countdown.Stop();
  }
}

void TForm2::NewPaperCheck() {
  if (!m_addSp) {
    return;
  }
  QScopedValueRollback<bool> running(m_newPaperCheckRunning, true);
  const std::string mark = exchange::QueryValueOf(exchange::EncodeGbk(m_addSp->HighestServerNumber()));
  std::string answer;
  {
    ui::CountdownTrigger::ActionScope request(m_countdown);
    answer = IdHTTP1.GetText(m_contentServer + kNewPaperPage + mark, exchange::kMaxPageBytes);
  }
  if (answer != kNoNewPapers) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kNewPapersMessage));
    m_countdown.Stop();
  }
}

void TForm2::TreeView1Change(QTreeWidgetItem* node) {
  m_exam = node->text(0);
  ReopenMainList(false);
  PageControl1->setCurrentIndex(0);
}

void TForm2::DBGrid1TitleClick(const QString& field, Qt::SortOrder order) {
  m_sortField = field;
  m_sortOrder = order;
  ReopenMainList(true);
}

void TForm2::Edit2Change() { Timer2->start(); }

void TForm2::Timer2Timer() {
  if (Edit2->text() == m_searchText) {
    return;
  }
  m_searchText = Edit2->text();
  ReopenMainList(false);
}

void TForm2::ReopenMainList(bool keepSelection) {
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

void TForm2::UpdateTabCaption() {
  if (m_exam.isEmpty() && m_searchText.isEmpty()) {
    PageControl1->setTabText(0, QString::fromUtf8(kListTabCaption));
    return;
  }
  const QString name = m_exam.isEmpty() ? QString::fromUtf8(kAllPapers) : m_exam;
  PageControl1->setTabText(0, QString::fromUtf8(kTabPadding) + name + QString::fromUtf8(kTabCountPrefix) +
                                  QString::number(m_mainList->RecordCount()) + QString::fromUtf8(kTabCountSuffix));
}

void TForm2::DBGrid1DblClick() {
  // Both tests run on every double-click; the download only starts a moment later, so one double-click never does
  // both.
  if (m_mainList->FieldAsText(QStringLiteral("F_ZT")) == QString::fromUtf8(store::kStatusToDownload)) {
    N11Click();
  }
  if (m_mainList->FieldAsText(QStringLiteral("F_ZT")) == QString::fromUtf8(store::kStatusOpen)) {
    N12Click();
  }
}

void TForm2::N2Click() { close(); }

void TForm2::N3Click() { PageControl1->setCurrentIndex(0); }

void TForm2::N8Click() {
  m_countdown.Stop();
  if (m_addSp) {
    m_addSp->ShowForCommand();
  }
}

void TForm2::N9Click() {
  m_countdown.Stop();
  if (m_gengXinChengXun) {
    m_gengXinChengXun->ShowForCommand();
  }
}

void TForm2::N11Click() {
  if (m_form3) {
    m_form3->ShowForCommand();
  }
}

void TForm2::N12Click() {
  // No check that the row was downloaded: an empty F_BDWJ opens the download folder itself.
  const QString file = m_mainList->FieldAsText(QStringLiteral("F_BDWJ"));
  // The name came from a server over plain HTTP: the shell would run a program rather than show a paper. Tested on
  // the name's own characters in UTF-8, which keeps ASCII as it is and writes nothing else below 0x80: a name may
  // hold a character GBK cannot write (bytes the converter could not read became U+FFFD).
  if (exchange::IsRunnableFileName(file.toUtf8().toStdString())) {
    ui::dialogs().ShowMessage(QString::fromUtf8(kRunnableNotOpenedMessage).arg(file));
    return;
  }
  ui::shell().Open(QDir::currentPath() + QString::fromLatin1(kDownloadFolder) + file);
}

void TForm2::N13Click() { close(); }

void TForm2::Label3Click() { ui::shell().Open(QString::fromUtf8(vextal::kPublisherUrl)); }
