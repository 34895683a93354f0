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

TEST_F(StartupTest, ExceptionClassNamesDropTheirNamespaces) {
  EXPECT_EQ(app::ExceptionClassName(store::DatabaseError("x")), "DatabaseError");
  EXPECT_EQ(app::ExceptionClassName(std::runtime_error("x")), "runtime_error");
}

}  // namespace
