// The user's road through the real windows against the demo server: the start-up checks, "更新题库", a double-click
// download ending in "打开" and the file on disk, "暂无资源", "更新软件", and a later run going on from where the
// catalogue stopped.

#include "app/startup.h"
#include "tests/e2e/road_fixture.h"

#include "net/system_proxy.h"
#include "net/tls_channel.h"
#include "store/catalogue.h"
#include "tests/support/nginx_front.h"
#include "tests/support/squid_proxy.h"
#include "tests/support/tls_server.h"
#include "ui/error_report.h"

#include "app/main_window.h"
#include "exchange/catalogue_update_window.h"
#include "exchange/program_update_window.h"
#include "exchange/paper_download_window.h"
#include "store/result_set.h"
#include "ui/data_grid.h"
#include "vextal_config.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QProgressBar>
#include <QTimer>

namespace {

// The proxy variables as a user behind a proxy has them (http_proxy and https_proxy, nothing else), or none at all,
// for one scope.
class ScopedProxyVariables {
 public:
  explicit ScopedProxyVariables(const std::string& proxyUrl) {
    for (const char* name : kNames) {
      m_saved.push_back(qgetenv(name));
      m_set.push_back(qEnvironmentVariableIsSet(name));
      qunsetenv(name);
    }
    if (!proxyUrl.empty()) {
      qputenv("http_proxy", QByteArray::fromStdString(proxyUrl));
      qputenv("https_proxy", QByteArray::fromStdString(proxyUrl));
    }
  }
  ~ScopedProxyVariables() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (m_set[i]) {
        qputenv(kNames[i], m_saved[i]);
      } else {
        qunsetenv(kNames[i]);
      }
    }
  }
  ScopedProxyVariables(const ScopedProxyVariables&) = delete;
  ScopedProxyVariables& operator=(const ScopedProxyVariables&) = delete;

 private:
  static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                           "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
  std::vector<QByteArray> m_saved;
  std::vector<bool> m_set;
};

const QString kNewPapers = QStringLiteral("有新试卷了，请注意更新，点击\"更新题库\"！");
const QString kNewVersion = QStringLiteral("软件有了新版本，注意更新，点击\"更新软件\"！");
const QString kCurrent = QStringLiteral("系统已经是最新版本了！");
const QString kRunningVersion = QString::fromLatin1(vextal::kVersionText);
QString Imported(int count) { return QStringLiteral("系统已升级完成，共下载%1套试卷").arg(count); }

// The demo bank numbers its papers from 1001; its generation is fixed, so these stay what they are.
constexpr int kFirstBank = 12;
constexpr int kLaterBank = 16;
const QString kPlainPaper = QStringLiteral("1001");
const QString kChineseNamedPaper = QStringLiteral("1002");  // "<folder>/<year>年 <Chinese words>_1002.pdf"
const QString kLargePaper = QStringLiteral("1004");         // a few MiB, many progress reports
const QString kPaperWithoutFile = QStringLiteral("1009");

TEST_F(RoadTest, StartUpChecksTellOfNewPapersOrOfAnotherVersion) {
  struct Case {
    const char* label;
    int records;
    QString version;
    QStringList messages;
    bool timerRuns;
  };
  const Case cases[] = {
      {"new papers", kFirstBank, kRunningVersion, {kNewPapers}, false},
      // The version message comes first and stops the countdown, so the new-paper check never runs.
      {"another version", kFirstBank, kRunningVersion + ".1", {kNewVersion}, false},
      {"nothing new", 0, kRunningVersion, {}, true},
  };
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(StartServer(c.records, c.version)) << c.label;
    ASSERT_NO_FATAL_FAILURE(StartClient()) << c.label;
    fakes.dialogs.messages.clear();
    RunStartUpChecks();
    EXPECT_EQ(fakes.dialogs.messages, c.messages) << c.label;
    EXPECT_EQ(app::windows().main->CountdownTimer->isActive(), c.timerRuns) << c.label;
    EndClient();
  }
}

TEST_F(RoadTest, UpdateTheCatalogueThenDownloadAndOpenPapers) {
  ASSERT_NO_FATAL_FAILURE(StartServer(kFirstBank));
  ASSERT_NO_FATAL_FAILURE(StartClient());
  RunStartUpChecks();
  EXPECT_EQ(fakes.dialogs.messages, QStringList{kNewPapers});
  EXPECT_EQ(app::windows().main->PaperGrid->model()->rowCount(), 0);

  ASSERT_NO_FATAL_FAILURE(UpdateCatalogue());
  EXPECT_EQ(fakes.dialogs.messages.last(), Imported(kFirstBank));
  EXPECT_FALSE(app::windows().catalogueUpdate->isVisible());
  EXPECT_EQ(StoredRowCount(), kFirstBank);
  // The grid shows the refreshed list: every new paper it holds is ready for download.
  store::ResultSet* list = app::windows().main->MainList();
  EXPECT_GT(list->RecordCount(), 0);
  EXPECT_EQ(app::windows().main->PaperGrid->model()->rowCount(), list->RecordCount());
  for (int row = 0; row < list->RecordCount(); ++row) {
    EXPECT_EQ(list->FieldAsText(row, QStringLiteral("F_ZT")), QStringLiteral("下载")) << row;
  }

  struct Case {
    QString number;
    bool hasFile;
  };
  const Case cases[] = {{kChineseNamedPaper, true}, {kLargePaper, true}, {kPaperWithoutFile, false}};
  for (const Case& c : cases) {
    const std::string label = "paper " + c.number.toStdString();
    const int row = DoubleClickPaper(c.number);
    ASSERT_GE(row, 0) << label;
    ASSERT_NO_FATAL_FAILURE(RunDownload()) << label;
    EXPECT_FALSE(app::windows().paperDownload->isVisible()) << label;
    const QString name = StoredField(c.number, QStringLiteral("F_BDWJ"));
    const int openedBefore = fakes.shell.opened.size();
    if (c.hasFile) {
      EXPECT_EQ(StoredField(c.number, QStringLiteral("F_ZT")), QStringLiteral("打开")) << label;
      EXPECT_FALSE(StoredField(c.number, QStringLiteral("F_GXSJ")).isEmpty()) << label;
      // The grid's row changed in place, without a reopen.
      EXPECT_EQ(list->FieldAsText(row, QStringLiteral("F_ZT")), QStringLiteral("打开")) << label;
      // The file lies in the download folder under its name alone, byte for byte what the server has.
      EXPECT_FALSE(name.contains(QLatin1Char('/'))) << label;
      QFile file(QStringLiteral("DownLoad/") + name);
      ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << label << ": " << name.toStdString();
      const QByteArray served = ServerFile(name);
      EXPECT_FALSE(served.isEmpty()) << label;
      EXPECT_TRUE(file.readAll() == served) << label;
      EXPECT_EQ(app::windows().paperDownload->ProgressBar->maximum(), served.size()) << label;
      EXPECT_EQ(app::windows().paperDownload->ProgressBar->value(), served.size()) << label;

      // The second double-click on the row, now "打开", hands the file to the shell.
      DoubleClickPaper(c.number);
      ASSERT_EQ(fakes.shell.opened.size(), openedBefore + 1) << label;
      EXPECT_EQ(fakes.shell.opened.last(), QDir::currentPath() + QStringLiteral("/DownLoad/") + name) << label;
      EXPECT_FALSE(app::windows().paperDownload->isVisible()) << label;
    } else {
      EXPECT_EQ(StoredField(c.number, QStringLiteral("F_ZT")), QStringLiteral("暂无资源")) << label;
      EXPECT_TRUE(name.isEmpty()) << label;
      // A row without a file is neither downloaded again nor opened.
      DoubleClickPaper(c.number);
      EXPECT_FALSE(app::windows().paperDownload->isVisible()) << label;
      EXPECT_EQ(fakes.shell.opened.size(), openedBefore) << label;
    }
  }
  EXPECT_EQ(QDir(QStringLiteral("DownLoad")).entryList(QDir::Files).size(), 2);
  EXPECT_EQ(fakes.dialogs.messages, (QStringList{kNewPapers, Imported(kFirstBank)}));

  // The user finds the downloaded paper again by a piece of its title, then orders the list by its number.
  const QString title = StoredField(kChineseNamedPaper, QStringLiteral("F_SJMC"));
  const QString piece = title.mid(title.size() / 3, 2);
  const QString exam = StoredField(kChineseNamedPaper, QStringLiteral("F_KM"));
  app::windows().main->ExamTree->setCurrentItem(app::windows().main->ExamTree->findItems(exam, Qt::MatchExactly).value(0));
  app::windows().main->SearchField->insert(piece);
  app::windows().main->SearchPause->stop();
  app::windows().main->SearchAfterPause();
  ASSERT_GT(list->RecordCount(), 0);
  bool found = false;
  for (int row = 0; row < list->RecordCount(); ++row) {
    EXPECT_TRUE(list->FieldAsText(row, QStringLiteral("F_SJMC")).contains(piece)) << row;
    found = found || list->FieldAsText(row, QStringLiteral("F_bh")) == kChineseNamedPaper;
  }
  EXPECT_TRUE(found) << piece.toStdString();
  EXPECT_TRUE(app::windows().main->ListTabs->tabText(0).contains(QString::number(list->RecordCount())));
  QHeaderView* header = app::windows().main->PaperGrid->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
  for (int row = 1; row < list->RecordCount(); ++row) {
    EXPECT_LT(list->FieldAsText(row - 1, QStringLiteral("F_id")).toLongLong(),
              list->FieldAsText(row, QStringLiteral("F_id")).toLongLong())
        << row;
  }
}

// A fresh install holds the program and nothing else: the first start makes the catalogue and the download folder,
// and the very first download lands in it.
// The same road on the networks our users are on: behind a campus proxy that alone knows the way out (and one that
// wants a login, asked once), to an https:// origin served by a real TLS server, and both at once through CONNECT.
TEST_F(RoadTest, TheRoadGoesThroughTheUsersProxyAndOverHttps) {
  struct Case {
    const char* label;
    bool proxy;
    bool login;
    bool tls;
  };
  const Case cases[] = {
      {"through a proxy", true, false, false},
      {"through a proxy that wants a login", true, true, false},
      {"over https", false, false, true},
      {"over https through a proxy", true, false, true},
  };
  testsupport::TestCertificates certificates;
  if (std::string why = certificates.Make(); !why.empty()) GTEST_SKIP() << why;
  net::SetExtraTrustedAuthorities(certificates.AuthorityFile());
  ui::InstallProxyLoginPrompt();
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(StartServer(kFirstBank)) << c.label;
    testsupport::NginxFront tls;
    int port = server.Port();
    if (c.tls) {
      if (std::string why = tls.Start(certificates, server.Port()); !why.empty()) GTEST_SKIP() << why;
      port = tls.Port();
    }
    testsupport::SquidProxy proxy;
    if (c.proxy) {
      testsupport::SquidProxy::Options options{.hosts = {{"papers.vextal.test", "127.0.0.1"}}};
      if (c.login) options.login = std::make_pair(std::string("student"), std::string("campus"));
      if (std::string why = proxy.Start(options); !why.empty()) GTEST_SKIP() << why;
    }
    // Loopback never goes through a proxy: behind one, the servers carry a name only the proxy resolves.
    const std::string host = c.proxy ? "papers.vextal.test" : "localhost";
    origin = std::string(c.tls ? "https://" : "http://") + host + ":" + std::to_string(port);
    ScopedProxyVariables variables(c.proxy ? "http://" + proxy.Name() : "");
    net::ForgetProxyLogins();
    fakes.dialogs.loginAnswers = {std::make_pair(QStringLiteral("student"), QStringLiteral("campus"))};

    ASSERT_NO_FATAL_FAILURE(StartClient()) << c.label;
    RunStartUpChecks();
    EXPECT_EQ(fakes.dialogs.messages, QStringList{kNewPapers}) << c.label;
    ASSERT_NO_FATAL_FAILURE(UpdateCatalogue()) << c.label;
    EXPECT_EQ(fakes.dialogs.messages.last(), Imported(kFirstBank)) << c.label;
    for (const QString& number : {kChineseNamedPaper, kLargePaper}) {
      ASSERT_GE(DoubleClickPaper(number), 0) << c.label;
      ASSERT_NO_FATAL_FAILURE(RunDownload()) << c.label;
      EXPECT_EQ(StoredField(number, QStringLiteral("F_ZT")), QStringLiteral("打开")) << c.label;
      QFile file(QStringLiteral("DownLoad/") + StoredField(number, QStringLiteral("F_BDWJ")));
      ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.label;
      EXPECT_TRUE(file.readAll() == ServerFile(StoredField(number, QStringLiteral("F_BDWJ")))) << c.label;
    }
    EXPECT_EQ(fakes.dialogs.logins.size(), c.login ? 1 : 0) << c.label << ": a login is asked once per run";
    EndClient();
    fakes.dialogs.logins.clear();
    fakes.dialogs.messages.clear();
    QFile::remove(QString::fromLatin1(store::kCatalogueFile));
    QDir(QStringLiteral("DownLoad")).removeRecursively();
    QDir().mkpath(QStringLiteral("DownLoad"));
  }
  origin.clear();
  net::SetProxyLoginPrompt({});
}

TEST_F(RoadTest, AFreshInstallDownloadsItsFirstPaper) {
  ASSERT_TRUE(QDir(QStringLiteral("DownLoad")).removeRecursively());
  ASSERT_NO_FATAL_FAILURE(StartServer(kFirstBank));
  ASSERT_NO_FATAL_FAILURE(StartClient());
  EXPECT_TRUE(QFileInfo(QStringLiteral("data/data.mdb")).isFile());
  EXPECT_TRUE(QFileInfo(QStringLiteral("DownLoad")).isDir());

  ASSERT_NO_FATAL_FAILURE(UpdateCatalogue());
  ASSERT_GE(DoubleClickPaper(kPlainPaper), 0);
  ASSERT_NO_FATAL_FAILURE(RunDownload());
  EXPECT_FALSE(app::windows().paperDownload->isVisible());
  EXPECT_EQ(StoredField(kPlainPaper, QStringLiteral("F_ZT")), QStringLiteral("打开"));
  const QString name = StoredField(kPlainPaper, QStringLiteral("F_BDWJ"));
  QFile file(QStringLiteral("DownLoad/") + name);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
  EXPECT_TRUE(file.readAll() == ServerFile(name));
}

TEST_F(RoadTest, UpdateSoftwareKeepsACurrentProgramAndHandsANewerOneToTheUpdater) {
  struct Case {
    const char* label;
    QString version;
    QStringList messages;
    QStringList started;
  };
  const Case cases[] = {
      {"current", kRunningVersion, {kCurrent}, {}},
      {"newer", kRunningVersion + ".1", {}, {"Upgrading.exe"}},
      // Only the exact text is current: a trailing line break makes another version.
      {"current with a line break", kRunningVersion + "\r\n", {}, {"Upgrading.exe"}},
  };
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(StartServer(0, c.version)) << c.label;
    ASSERT_NO_FATAL_FAILURE(StartClient()) << c.label;
    fakes.dialogs.messages.clear();
    fakes.processes.started.clear();
    fakes.processes.endCodes.clear();

    app::windows().main->UpdateProgramAction->trigger();
    EXPECT_FALSE(app::windows().main->CountdownTimer->isActive()) << c.label;
    ASSERT_TRUE(app::windows().programUpdate->isVisible()) << c.label;
    FirstTick(app::windows().programUpdate->CountdownTimer);
    EXPECT_EQ(fakes.dialogs.messages, c.messages) << c.label;
    EXPECT_EQ(fakes.processes.started, c.started) << c.label;
    // Handing over ends the process (by closing the main window); staying current hides the window only.
    EXPECT_EQ(fakes.processes.endCodes.size(), c.started.size()) << c.label;
    if (c.started.isEmpty()) {
      EXPECT_FALSE(app::windows().programUpdate->isVisible()) << c.label;
    }
    EndClient();
  }
}

TEST_F(RoadTest, ALaterRunGoesOnFromTheHighWaterMark) {
  ASSERT_NO_FATAL_FAILURE(StartServer(kFirstBank));
  ASSERT_NO_FATAL_FAILURE(StartClient());
  ASSERT_NO_FATAL_FAILURE(UpdateCatalogue());
  ASSERT_GE(DoubleClickPaper(kPlainPaper), 0);
  ASSERT_NO_FATAL_FAILURE(RunDownload());
  const QString downloaded = StoredField(kPlainPaper, QStringLiteral("F_BDWJ"));
  EndClient();

  // The server has published more papers since; the next run asks only for those.
  ASSERT_NO_FATAL_FAILURE(StartServer(kLaterBank));
  ASSERT_NO_FATAL_FAILURE(StartClient());
  fakes.dialogs.messages.clear();
  RunStartUpChecks();
  EXPECT_EQ(fakes.dialogs.messages, QStringList{kNewPapers});
  ASSERT_NO_FATAL_FAILURE(UpdateCatalogue());
  EXPECT_EQ(fakes.dialogs.messages.last(), Imported(kLaterBank - kFirstBank));
  EXPECT_EQ(StoredRowCount(), kLaterBank);
  EXPECT_EQ(StoredField(QString::number(1000 + kLaterBank), QStringLiteral("F_ZT")), QStringLiteral("下载"));
  // The earlier download is still recorded.
  EXPECT_EQ(StoredField(kPlainPaper, QStringLiteral("F_ZT")), QStringLiteral("打开"));
  EXPECT_EQ(StoredField(kPlainPaper, QStringLiteral("F_BDWJ")), downloaded);
  EndClient();

  // A run with nothing new: no start-up message, and the update says the catalogue is current.
  ASSERT_NO_FATAL_FAILURE(StartClient());
  fakes.dialogs.messages.clear();
  RunStartUpChecks();
  EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
  ASSERT_NO_FATAL_FAILURE(UpdateCatalogue());
  EXPECT_EQ(fakes.dialogs.messages, QStringList{kCurrent});
  EXPECT_FALSE(app::windows().catalogueUpdate->isVisible());
  EXPECT_EQ(StoredRowCount(), kLaterBank);
}

TEST_F(RoadTest, AGoneServerLeavesTheCatalogueAsItWas) {
  ASSERT_NO_FATAL_FAILURE(StartServer(kFirstBank));
  ASSERT_NO_FATAL_FAILURE(StartClient());
  ASSERT_NO_FATAL_FAILURE(UpdateCatalogue());
  server.Stop();
  fakes.dialogs.messages.clear();

  // The download swallows every failure: no message, the row stays "下载", the window stays on screen, idle.
  ASSERT_GE(DoubleClickPaper(kPlainPaper), 0);
  ASSERT_NO_FATAL_FAILURE(RunDownload());
  EXPECT_TRUE(app::windows().paperDownload->isVisible());
  EXPECT_FALSE(app::windows().paperDownload->CountdownTimer->isActive());
  EXPECT_EQ(StoredField(kPlainPaper, QStringLiteral("F_ZT")), QStringLiteral("下载"));
  EXPECT_TRUE(QDir(QStringLiteral("DownLoad")).entryList(QDir::Files).isEmpty());
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty());

  // The catalogue update reports the failure and stays, its countdown still running for the repeat.
  app::windows().main->UpdateCatalogueAction->trigger();
  FirstTick(app::windows().catalogueUpdate->CountdownTimer);
  ASSERT_EQ(fakes.dialogs.errors.size(), 1);
  EXPECT_TRUE(fakes.dialogs.errors[0].startsWith(QStringLiteral("Socket Error # 10061")))
      << fakes.dialogs.errors[0].toStdString();
  EXPECT_TRUE(app::windows().catalogueUpdate->isVisible());
  EXPECT_TRUE(app::windows().catalogueUpdate->CountdownTimer->isActive());
  EXPECT_EQ(StoredRowCount(), kFirstBank);
  EXPECT_TRUE(fakes.dialogs.messages.isEmpty());
  fakes.dialogs.errors.clear();
}

}  // namespace
