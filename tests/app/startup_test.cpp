#include "app/startup.h"

#include "net/pump_policy.h"
#include "tests/app/app_fixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

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

// As an installer would have left it: DownLoad/ beside data/, and nothing of an interrupted download's in it.
TEST_F(StartupTest, StartUpMakesTheDownloadFolderReadyAndClearsOnlyItsOwnDebris) {
  ASSERT_EQ(app::CreateWindows(recorder), 0);
  EXPECT_TRUE(QFileInfo("DownLoad").isDir());
  app::DestroyWindows();

  struct Case {
    const char* file;
    bool kept;
  };
  const Case cases[] = {
      {".vextal-0123abcd.part", false},
      {"sub/.vextal-89abcdef.part", false},
      {"paper.pdf", true},
      {"paper.part", true},
      {".vextal-notes.part", true},
      {".vextal-0123ABCD.part", true},
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

TEST_F(StartupTest, ExceptionClassNamesDropTheirNamespaces) {
  EXPECT_EQ(app::ExceptionClassName(store::DatabaseError("x")), "DatabaseError");
  EXPECT_EQ(app::ExceptionClassName(std::runtime_error("x")), "runtime_error");
}

}  // namespace
