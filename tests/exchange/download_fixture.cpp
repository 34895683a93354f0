#include "tests/exchange/download_fixture.h"

#include "store/catalogue.h"
#include "store/statements.h"
#include "ui/pump.h"

#include <QDir>

namespace {

const QString kConnection = QStringLiteral("download-fixture");

}  // namespace

void DownloadFolderTest::SetUp() {
  ASSERT_TRUE(m_root.isValid() && m_data.isValid());
  m_previous = QDir::currentPath();
  ASSERT_TRUE(QDir().mkpath(Folder()));
  ASSERT_TRUE(QDir::setCurrent(m_root.filePath(QStringLiteral("work"))));
  ui::InstallPumpDispatcher();
  m_db = store::OpenCatalogue(m_data.filePath(QStringLiteral("data.mdb")), kConnection);
  list = std::make_unique<store::ResultSet>(m_db);
  list->SetStatement(store::DefaultListStatement());
}

void DownloadFolderTest::TearDown() {
  form.reset();
  list.reset();
  m_db = QSqlDatabase();
  QSqlDatabase::removeDatabase(kConnection);
  QDir::setCurrent(m_previous);
}

QString DownloadFolderTest::Folder() const { return m_root.filePath(QStringLiteral("work/DownLoad")); }

QString DownloadFolderTest::InFolder(const QString& relative) const { return Folder() + QLatin1Char('/') + relative; }
