#include "tests/e2e/road_fixture.h"

#include "app/main_window.h"
#include "app/startup.h"
#include "exchange/catalogue_update_window.h"
#include "exchange/program_update_window.h"
#include "exchange/paper_download_window.h"
#include "store/result_set.h"
#include "ui/data_grid.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

constexpr const char* kCheckConnection = "road-check";
// The first tick after a show comes a little over a second later; later ticks follow once a second.
constexpr qint64 kFirstTickMs = 1500;
constexpr qint64 kTickMs = 1000;
// From the 28 reading to the 25 reading.
constexpr int kTicksFrom28To25 = 3;

// A connection of the test's own to the run's catalogue file, so what a run stored is read from the file itself.
class CatalogueReader {
 public:
  CatalogueReader() {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QString::fromLatin1(kCheckConnection));
    db.setDatabaseName(QString::fromLatin1(store::kCatalogueFile));
    m_open = db.open();
  }
  ~CatalogueReader() { QSqlDatabase::removeDatabase(QString::fromLatin1(kCheckConnection)); }
  CatalogueReader(const CatalogueReader&) = delete;
  CatalogueReader& operator=(const CatalogueReader&) = delete;

  QVariant Value(const QString& sql, const QVariantList& values = {}) const {
    if (!m_open) return {};
    QSqlQuery query(QSqlDatabase::database(QString::fromLatin1(kCheckConnection)));
    query.prepare(sql);
    for (const QVariant& value : values) query.addBindValue(value);
    return query.exec() && query.next() ? query.value(0) : QVariant();
  }

 private:
  bool m_open = false;
};

}  // namespace

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

void PrintTo(const QStringList& texts, std::ostream* out) {
  *out << '{';
  for (const QString& text : texts) {
    *out << ' ';
    PrintTo(text, out);
  }
  *out << " }";
}

std::unique_ptr<QTemporaryDir> RoadTest::s_serverRoot;

void RoadTest::SetUpTestSuite() { s_serverRoot = std::make_unique<QTemporaryDir>(); }

void RoadTest::TearDownTestSuite() { s_serverRoot.reset(); }

void RoadTest::SetUp() {
  ASSERT_TRUE(s_serverRoot->isValid());
  ASSERT_TRUE(folder.isValid());
  m_previousDirectory = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(folder.path()));
  ASSERT_TRUE(QDir().mkpath(QStringLiteral("DownLoad")));
}

void RoadTest::TearDown() {
  EndClient();
  server.Stop();
  QDir::setCurrent(m_previousDirectory);
  // Nothing on the road may have ended in the default error report.
  EXPECT_TRUE(fakes.dialogs.errors.isEmpty()) << fakes.dialogs.errors.join(QLatin1Char('\n')).toStdString();
}

void RoadTest::StartServer(int records, const QString& version) {
  const QString failure = server.Start(s_serverRoot->path(), records, version);
  ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
}

void RoadTest::StartClient() {
  ASSERT_EQ(app::windows().main, nullptr) << "the previous run was not ended";
  const app::ApplicationErrorBox recorder = [this](const QString& text) { fakes.dialogs.errors << text; };
  ASSERT_EQ(app::CreateWindows(recorder), 0);
  const std::string origin = this->origin.empty() ? server.Origin() : this->origin;
  app::windows().main->SetServers(origin, origin);
  app::windows().catalogueUpdate->SetContentServer(origin);
  app::windows().programUpdate->SetVersionServer(origin);
  app::windows().paperDownload->SetContentServer(origin);
  // The road's pauses before another try of a download are recorded, not slept.
  app::windows().paperDownload->SetRetryPause([this](int ms) {
    downloadPauses.push_back(ms);
    return true;
  });
  app::windows().main->SetHideAnimationMs(0);
  app::windows().main->show();
}

void RoadTest::EndClient() {
  app::DestroyWindows();
}

void RoadTest::TickAfter(QTimer* timer, qint64 ms) {
  fakes.clock.AdvanceMs(ms);
  // A stopped timer does not tick, however much time passes.
  if (timer->isActive()) {
    ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
    // A window may take its ticks through the event queue.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
  }
}

void RoadTest::FirstTick(QTimer* timer) { TickAfter(timer, kFirstTickMs); }

void RoadTest::RunStartUpChecks() {
  FirstTick(app::windows().main->CountdownTimer);
  for (int tick = 0; tick < kTicksFrom28To25; ++tick) {
    TickAfter(app::windows().main->CountdownTimer, kTickMs);
  }
}

void RoadTest::UpdateCatalogue() {
  app::windows().main->UpdateCatalogueAction->trigger();
  ASSERT_TRUE(app::windows().catalogueUpdate->isVisible());
  FirstTick(app::windows().catalogueUpdate->CountdownTimer);
}

int RoadTest::DoubleClickPaper(const QString& serverNumber) {
  const QString exam = StoredField(serverNumber, QStringLiteral("F_KM"));
  const QList<QTreeWidgetItem*> items = app::windows().main->ExamTree->findItems(exam, Qt::MatchExactly);
  EXPECT_EQ(items.size(), 1) << exam.toStdString();
  if (items.size() != 1) return -1;
  app::windows().main->ExamTree->setCurrentItem(items.front());

  store::ResultSet* list = app::windows().main->MainList();
  int row = -1;
  for (int candidate = 0; candidate < list->RecordCount() && row < 0; ++candidate) {
    if (list->FieldAsText(candidate, QStringLiteral("F_bh")) == serverNumber) row = candidate;
  }
  EXPECT_GE(row, 0) << "paper " << serverNumber.toStdString() << " is not in the grid";
  if (row < 0) return -1;
  const QModelIndex cell = app::windows().main->PaperGrid->model()->index(row, 0);
  app::windows().main->PaperGrid->scrollTo(cell);
  QTest::mouseDClick(app::windows().main->PaperGrid->viewport(), Qt::LeftButton, {}, app::windows().main->PaperGrid->visualRect(cell).center());
  EXPECT_EQ(list->CurrentRow(), row);
  return row;
}

void RoadTest::RunDownload() {
  ASSERT_TRUE(app::windows().paperDownload->isVisible());
  FirstTick(app::windows().paperDownload->CountdownTimer);
}

QString RoadTest::StoredField(const QString& serverNumber, const QString& field) const {
  CatalogueReader reader;
  // The field name comes from the test itself, never from data.
  return reader.Value(QStringLiteral("select %1 from VXT_TM where F_bh = ?").arg(field), {serverNumber.toLongLong()})
      .toString();
}

int RoadTest::StoredRowCount() const {
  CatalogueReader reader;
  return reader.Value(QStringLiteral("select count(*) from VXT_TM")).toInt();
}

QByteArray RoadTest::ServerFile(const QString& fileName) const {
  QDirIterator files(s_serverRoot->path() + QStringLiteral("/Upload"), {fileName}, QDir::Files,
                     QDirIterator::Subdirectories);
  if (!files.hasNext()) return {};
  QFile file(files.next());
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
