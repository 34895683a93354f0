#include "app/startup.h"

#include "net/pump_policy.h"
#include "platform/folder_lock.h"
#include "tests/app/app_fixture.h"
#include "tests/support/folder_holder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <optional>

namespace {

class StartupTest : public InScratchDirectory {
 protected:
  void TearDown() override {
    app::DestroyWindows();
    InScratchDirectory::TearDown();
  }

  testsupport::InstalledFakes fakes;
  QStringList boxes;
  app::ApplicationErrorBox recorder = [this](const QString& text) { boxes << text; };
};

bool NoConverter() { return false; }

TEST_F(StartupTest, StartUpFailuresShowTheApplicationErrorAndEndWithCodeOne) {
  struct Case {
    const char* label;
    bool corruptCatalogue;
    bool (*converterAvailable)();
    const char* exception;
  };
  const Case cases[] = {
      {"corrupt catalogue", true, platform::GbkConverterAvailable, "DatabaseError"},
      // Checked before the catalogue opens, so nothing is read or stored without it.
      {"no GBK converter", false, NoConverter, "GbkConverterMissing"},
  };
  const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    boxes.clear();
    QFile::remove("data/data.mdb");
    if (c.corruptCatalogue) {
      ASSERT_TRUE(QDir().mkpath("data"));
      QFile file("data/data.mdb");
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(QByteArray(4096, 'x'));
    }
    EXPECT_EQ(app::CreateWindows(recorder, QString::fromLatin1(store::kCatalogueFile), c.converterAvailable), 1);
    ASSERT_EQ(boxes.size(), 1);
    const QRegularExpression form(QStringLiteral("^Exception %1 in module %2 at [0-9A-F]{8,16}\\.\\n.+")
                                      .arg(QLatin1String(c.exception), QRegularExpression::escape(module)),
                                  QRegularExpression::DotMatchesEverythingOption);
    EXPECT_TRUE(form.match(boxes[0]).hasMatch()) << boxes[0].toStdString();
    EXPECT_EQ(app::windows().main, nullptr);
    EXPECT_EQ(QFileInfo::exists("data/data.mdb"), c.corruptCatalogue);
    EXPECT_TRUE(fakes.dialogs.errors.isEmpty());
  }
}

TEST_F(StartupTest, ACatalogueLackingAColumnIsRefusedNamingItAndLeftUntouched) {
  const QStringList columns = {"F_id", "F_bh", "F_SJMC", "F_KM", "F_ZFL1", "F_LB",
                               "F_MS", "F_ZT", "F_BZ", "F_GXSJ", "F_BDWJ"};
  const auto contents = [] {
    QFile file("data/data.mdb");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  ASSERT_TRUE(QDir().mkpath("data"));
  // The last case lacks nothing: columns in another case are the same columns.
  const QStringList cases = QStringList(columns) << QString();
  for (const QString& missing : cases) {
    QFile::remove("data/data.mdb");
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
      db.setDatabaseName("data/data.mdb");
      ASSERT_TRUE(db.open());
      QStringList present = columns;
      present.removeOne(missing);
      ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("create table VXT_TM (%1)").arg(present.join(", ").toLower())));
      db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
    const QByteArray before = contents();
    boxes.clear();

    EXPECT_EQ(app::CreateWindows(recorder), missing.isEmpty() ? 0 : 1) << missing.toStdString();
    app::DestroyWindows();

    EXPECT_EQ(boxes.size(), missing.isEmpty() ? 0 : 1) << missing.toStdString();
    if (!boxes.isEmpty()) {
      EXPECT_TRUE(boxes[0].endsWith(QStringLiteral("lacks the column ") + missing)) << boxes[0].toStdString();
      EXPECT_TRUE(contents() == before) << missing.toStdString();
    }
  }
}

TEST_F(StartupTest, CreatesEveryWindowOnceHiddenAndWiredToTheMainWindow) {
  net::SetPumpDispatcher({});
  ASSERT_EQ(app::CreateWindows(recorder), 0);
  EXPECT_TRUE(boxes.isEmpty());
  ASSERT_NE(app::windows().main, nullptr);
  ASSERT_NE(app::windows().catalogueUpdate, nullptr);
  ASSERT_NE(app::windows().programUpdate, nullptr);
  ASSERT_NE(app::windows().paperDownload, nullptr);
  EXPECT_TRUE(QFileInfo::exists("data/data.mdb"));
  for (QWidget* window : std::initializer_list<QWidget*>{app::windows().main, app::windows().catalogueUpdate, app::windows().programUpdate, app::windows().paperDownload}) {
    EXPECT_FALSE(window->isVisible());
  }
  EXPECT_EQ(app::windows().catalogueUpdate->MainWindow(), app::windows().main);
  EXPECT_EQ(app::windows().catalogueUpdate->MainList(), app::windows().main->MainList());
  EXPECT_EQ(app::windows().paperDownload->MainList(), app::windows().main->MainList());
  // The download window, created last, holds the PumpPolicy in force.
  EXPECT_EQ(net::PumpPolicy::InForce(), &app::windows().paperDownload->Pump);
  // The pump serves this thread's event queue from start-up on.
  bool dispatched = false;
  QMetaObject::invokeMethod(app::windows().main, [&dispatched] { dispatched = true; }, Qt::QueuedConnection);
  net::PumpRequest(true);
  EXPECT_TRUE(dispatched);
}

// As an installer would have left it: DownLoad/ beside data/, and nothing of an interrupted download's in the program's
// own folder inside it; the papers around it are never touched.
TEST_F(StartupTest, StartUpMakesTheDownloadFolderReadyAndClearsOnlyItsOwnDebris) {
  ASSERT_EQ(app::CreateWindows(recorder), 0);
  EXPECT_TRUE(QFileInfo("DownLoad").isDir());
  app::DestroyWindows();

  struct Case {
    const char* file;
    bool kept;
  };
  const Case cases[] = {
      // A partial paper without its record cannot be resumed, nor is a record of nothing worth keeping.
      {".vextal/0123456789abcdef.part", false},
      {".vextal/fedcba9876543210.resume", false},
      // Names a server may give a paper are papers, whatever they look like.
      {".vextal-0123abcd.part", true},
      {"sub/.vextal-89abcdef.part", true},
      {"paper.pdf", true},
      {"paper.part", true},
      {".vextal-notes.part", true},
      {".vextal-4567CDEF.part", true},
      {".vextal-0123abc.part", true},
      {".vextal-0123abcd.part.pdf", true},
  };
  for (const Case& c : cases) {
    const QString path = QStringLiteral("DownLoad/") + QString::fromLatin1(c.file);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  ASSERT_EQ(app::CreateWindows(recorder), 0);
  for (const Case& c : cases) {
    EXPECT_EQ(QFileInfo::exists(QStringLiteral("DownLoad/") + QString::fromLatin1(c.file)), c.kept) << c.file;
  }
}

TEST_F(StartupTest, ASecondStartInTheFolderOpensNothingWhileTheFirstRuns) {
  enum class Other { kNone, kRunning, kKilled };
  struct Case {
    const char* label;
    Other other;
    bool opens;
  };
  const Case cases[] = {
      {"first start in the folder", Other::kNone, true},
      // Its recorded window is no window here, so the user is told instead.
      {"another program runs in the folder", Other::kRunning, false},
      {"the program there was killed", Other::kKilled, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fakes.dialogs.messages.clear();
    const QString folder = m_dir.filePath(QString::fromLatin1(c.label));
    ASSERT_TRUE(QDir().mkpath(folder) && QDir::setCurrent(folder));
    std::optional<testsupport::FolderHolder> other;
    if (c.other != Other::kNone) {
      other.emplace(QDir(folder).filePath(QString::fromLatin1(app::kFolderLockFile)).toStdString());
      ASSERT_TRUE(other->Holds());
      if (c.other == Other::kKilled) other->Kill();
    }

    const std::optional<int> exitCode = app::Start(recorder);

    EXPECT_EQ(exitCode, c.opens ? std::nullopt : std::optional<int>(app::kAlreadyRunningExitCode));
    EXPECT_EQ(fakes.dialogs.messages,
              c.opens ? QStringList() : QStringList{QString::fromUtf8(app::kAlreadyRunningText)});
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(QFileInfo::exists("data/data.mdb"), c.opens);
    EXPECT_EQ(QFileInfo::exists("DownLoad"), c.opens);
    ASSERT_EQ(app::windows().main != nullptr, c.opens);
    if (c.opens) {
      EXPECT_TRUE(app::windows().main->isVisible());
      // What the next start in the folder brings to the front.
      const std::optional<platform::RecordedWindow> recorded = platform::ReadRecordedWindow(app::kFolderLockFile);
      ASSERT_TRUE(recorded.has_value());
      EXPECT_EQ(recorded->process, static_cast<std::uint64_t>(QCoreApplication::applicationPid()));
      EXPECT_EQ(recorded->window, app::windows().main->winId());
    }
    app::DestroyWindows();
  }
}

TEST_F(StartupTest, ExceptionClassNamesDropTheirNamespaces) {
  EXPECT_EQ(app::ExceptionClassName(store::DatabaseError("x")), "DatabaseError");
  EXPECT_EQ(app::ExceptionClassName(std::runtime_error("x")), "runtime_error");
}

}  // namespace
