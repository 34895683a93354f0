#include "app/startup.h"

#include "net/anti_freeze.h"
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
    app::DestroyForms();
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
    EXPECT_EQ(app::CreateForms(recorder, QString::fromLatin1(store::kCatalogueFile), c.converterAvailable), 1);
    ASSERT_EQ(boxes.size(), 1);
    const QRegularExpression form(QStringLiteral("^Exception %1 in module %2 at [0-9A-F]{8,16}\\.\\n.+")
                                      .arg(QLatin1String(c.exception), QRegularExpression::escape(module)),
                                  QRegularExpression::DotMatchesEverythingOption);
    EXPECT_TRUE(form.match(boxes[0]).hasMatch()) << boxes[0].toStdString();
    EXPECT_EQ(Form2, nullptr);
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

    EXPECT_EQ(app::CreateForms(recorder), missing.isEmpty() ? 0 : 1) << missing.toStdString();
    app::DestroyForms();

    EXPECT_EQ(boxes.size(), missing.isEmpty() ? 0 : 1) << missing.toStdString();
    if (!boxes.isEmpty()) {
      EXPECT_TRUE(boxes[0].endsWith(QStringLiteral("lacks the column ") + missing)) << boxes[0].toStdString();
      EXPECT_TRUE(contents() == before) << missing.toStdString();
    }
  }
}

TEST_F(StartupTest, CreatesEveryWindowOnceHiddenAndWiredToTheMainWindow) {
  net::SetPumpDispatcher({});
  ASSERT_EQ(app::CreateForms(recorder), 0);
  EXPECT_TRUE(boxes.isEmpty());
  ASSERT_NE(Form2, nullptr);
  ASSERT_NE(AddSp, nullptr);
  ASSERT_NE(GengXinChengXun, nullptr);
  ASSERT_NE(Form3, nullptr);
  EXPECT_TRUE(QFileInfo::exists("data/data.mdb"));
  for (QWidget* window : std::initializer_list<QWidget*>{Form2, AddSp, GengXinChengXun, Form3}) {
    EXPECT_FALSE(window->isVisible());
  }
  EXPECT_EQ(AddSp->MainWindow(), Form2);
  EXPECT_EQ(AddSp->MainList(), Form2->MainList());
  EXPECT_EQ(Form3->MainList(), Form2->MainList());
  // The download window, created last, holds the AntiFreeze in force.
  EXPECT_EQ(net::AntiFreeze::InForce(), &Form3->IdAntiFreeze1);
  // The pump serves this thread's event queue from start-up on.
  bool dispatched = false;
  QMetaObject::invokeMethod(Form2, [&dispatched] { dispatched = true; }, Qt::QueuedConnection);
  net::PumpRequest(true);
  EXPECT_TRUE(dispatched);
}

// As an installer would have left it: DownLoad/ beside data/, and nothing of an interrupted download's in it.
TEST_F(StartupTest, StartUpMakesTheDownloadFolderReadyAndClearsOnlyItsOwnDebris) {
  ASSERT_EQ(app::CreateForms(recorder), 0);
  EXPECT_TRUE(QFileInfo("DownLoad").isDir());
  app::DestroyForms();

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
  ASSERT_EQ(app::CreateForms(recorder), 0);
  for (const Case& c : cases) {
    EXPECT_EQ(QFileInfo::exists(QStringLiteral("DownLoad/") + QString::fromLatin1(c.file)), c.kept) << c.file;
  }
}

TEST_F(StartupTest, ExceptionClassNamesDropTheirNamespaces) {
  EXPECT_EQ(app::ExceptionClassName(store::DatabaseError("x")), "DatabaseError");
  EXPECT_EQ(app::ExceptionClassName(std::runtime_error("x")), "runtime_error");
}

}  // namespace
