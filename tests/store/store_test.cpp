#include "store/catalogue.h"
#include "store/result_set.h"
#include "store/statements.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
  void TearDown() override {
    QSqlDatabase::removeDatabase(QStringLiteral("catalogue"));
  }

  QString DbPath() const { return m_dir.filePath(QStringLiteral("data/data.mdb")); }

  QSqlDatabase Open() { return store::OpenCatalogue(DbPath(), QStringLiteral("catalogue")); }

  static void AddRow(store::ResultSet& set, const QString& bh, const QString& exam, const QString& title = {}) {
    set.Append();
    set.SetField(QStringLiteral("F_bh"), bh);
    set.SetField(QStringLiteral("F_KM"), exam);
    set.SetField(QStringLiteral("F_SJMC"), title);
    set.SetField(QStringLiteral("F_ZT"), QStringLiteral("下载"));
    set.Post();
  }

  QTemporaryDir m_dir;
};

TEST(StatementsTest, TopLimitIsTranslatedForSqlite) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"select top 100 * from VXT_TM  order by f_id desc", "select * from VXT_TM  order by f_id desc limit 100"},
      {"select top 1 * from VXT_TM order by f_bh desc", "select * from VXT_TM order by f_bh desc limit 1"},
      {"SELECT TOP 1 * from VXT_TM", "select * from VXT_TM limit 1"},
      {"select * from VXT_TM where F_KM =? order by f_id desc", "select * from VXT_TM where F_KM =? order by f_id desc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store::ToSqliteDialect(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
  }
}

TEST_F(CatalogueTest, MissingFileIsCreatedEmptyWithTheTable) {
  QSqlDatabase db = Open();
  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.CurrentRow(), -1);
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_SJMC")), QString());
  for (const char* column : {"F_id", "F_bh", "F_SJMC", "F_KM", "F_ZFL1", "F_LB", "F_MS", "F_ZT", "F_BZ", "F_GXSJ",
                             "F_BDWJ"}) {
    EXPECT_TRUE(list.FieldNames().contains(QString::fromLatin1(column), Qt::CaseInsensitive)) << column;
  }
  EXPECT_TRUE(QFile::exists(DbPath()));
}

TEST_F(CatalogueTest, UnusableFilesAreRefusedAndLeftAlone) {
  const QByteArray garbage("this is not a database, but somebody's file\n");
  QDir().mkpath(m_dir.filePath(QStringLiteral("data")));
  {
    QFile file(DbPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(garbage);
  }
  EXPECT_THROW(Open(), store::DatabaseError);
  QSqlDatabase::removeDatabase(QStringLiteral("catalogue"));
  QFile file(DbPath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), garbage);
}

TEST_F(CatalogueTest, DatabaseWithoutTheTableIsRefused) {
  QDir().mkpath(m_dir.filePath(QStringLiteral("data")));
  {
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    other.setDatabaseName(DbPath());
    ASSERT_TRUE(other.open());
    other.exec(QStringLiteral("create table unrelated (x)"));
    other.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("other"));
  EXPECT_THROW(Open(), store::DatabaseError);
}

TEST_F(CatalogueTest, DefaultListShowsTheNewestHundredAndTheFilterShowsAllOfAnExam) {
  QSqlDatabase db = Open();
  store::ResultSet set(db);
  set.SetStatement(store::AppendTargetStatement());
  set.Open();
  for (int i = 1; i <= 150; ++i) {
    AddRow(set, QString::number(i), i % 3 ? QStringLiteral("公务员考试") : QStringLiteral("高考"));
  }

  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();
  ASSERT_EQ(list.RecordCount(), 100);
  EXPECT_EQ(list.FieldAsText(0, QStringLiteral("f_bh")), QStringLiteral("150"));
  EXPECT_EQ(list.FieldAsText(99, QStringLiteral("F_BH")), QStringLiteral("51"));
  EXPECT_EQ(list.CurrentRow(), 0);

  list.SetStatement(store::ExamFilterStatement(QStringLiteral("公务员考试")));
  list.Refresh();
  EXPECT_EQ(list.RecordCount(), 100);
  list.SetStatement(store::ExamFilterStatement(QStringLiteral("高考")));
  list.Refresh();
  EXPECT_EQ(list.RecordCount(), 50);
  list.SetStatement(store::ExamFilterStatement(QStringLiteral("无此考试' or '1'='1")));
  list.Refresh();
  EXPECT_EQ(list.RecordCount(), 0);
  EXPECT_EQ(list.CurrentRow(), -1);
}

// Stores the numbers through the append target and returns the high-water mark row's number.
QString MarkOf(QSqlDatabase db, const std::vector<QString>& numbers) {
  store::ResultSet set(db);
  set.SetStatement(store::AppendTargetStatement());
  set.Open();
  for (const QString& bh : numbers) {
    set.Append();
    set.SetField(QStringLiteral("F_bh"), bh);
    set.Post();
  }
  set.SetStatement(store::HighWaterMarkStatement());
  set.Refresh();
  return set.FieldAsText(QStringLiteral("F_bh"));
}

QStringList StoredNumbers(QSqlDatabase db) {
  QSqlQuery query(db);
  query.exec(QStringLiteral("select F_bh from VXT_TM order by F_id"));
  QStringList numbers;
  while (query.next()) numbers << query.value(0).toString();
  return numbers;
}

// A catalogue made before F_bh became text keeps its numeric column (changing a column's type means rebuilding the
// table); the engine went on turning every number-like text into a number there, and the mark still skips the rest.
TEST_F(CatalogueTest, ACatalogueWithTheEarlierNumericColumnKeepsWorking) {
  QDir().mkpath(m_dir.filePath(QStringLiteral("data")));
  {
    QSqlDatabase earlier = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("earlier"));
    earlier.setDatabaseName(DbPath());
    ASSERT_TRUE(earlier.open());
    QSqlQuery(earlier).exec(QStringLiteral(
        "create table VXT_TM (F_id integer primary key autoincrement, F_bh numeric, F_SJMC text, F_KM text, "
        "F_ZFL1 text, F_LB text, F_MS text, F_ZT text, F_BZ text, F_GXSJ text, F_BDWJ text)"));
    earlier.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("earlier"));
  const std::vector<QString> received = {"0012", "abc", "3.5", "-5", "  7", "7.0", "", "123456789012345678901234567890"};
  const QStringList readBack = {"12", "abc", "3.5", "-5", "7", "7", "", "1.2345678901234568e+29"};
  QSqlDatabase db = Open();
  EXPECT_EQ(MarkOf(db, received), "12");
  EXPECT_EQ(StoredNumbers(db), readBack);
}

TEST_F(CatalogueTest, EditingWritesThroughAndKeepsTheRowCurrent) {
  QSqlDatabase db = Open();
  store::ResultSet set(db);
  set.SetStatement(store::AppendTargetStatement());
  set.Open();
  AddRow(set, QStringLiteral("1"), QStringLiteral("高考"), QStringLiteral("一"));
  AddRow(set, QStringLiteral("2"), QStringLiteral("高考"), QStringLiteral("二"));
  EXPECT_EQ(set.FieldAsText(QStringLiteral("F_SJMC")), QStringLiteral("二"));

  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();
  list.SetCurrentRow(1);
  list.Edit();
  list.SetField(QStringLiteral("F_zt"), QStringLiteral("打开"));
  list.Post();
  EXPECT_EQ(list.CurrentRow(), 1);
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_ZT")), QStringLiteral("打开"));
  EXPECT_FALSE(list.IsEditing());

  // Another row is updated by its number while the selection stays put.
  const qint64 newest = list.FieldAsText(0, QStringLiteral("F_id")).toLongLong();
  list.UpdateById(newest, {{QStringLiteral("F_BDWJ"), QStringLiteral("a b.pdf")}});
  EXPECT_EQ(list.CurrentRow(), 1);
  EXPECT_EQ(list.FieldAsText(0, QStringLiteral("F_BDWJ")), QStringLiteral("a b.pdf"));

  list.Refresh();
  EXPECT_EQ(list.FieldAsText(1, QStringLiteral("F_ZT")), QStringLiteral("打开"));
  EXPECT_EQ(list.FieldAsText(0, QStringLiteral("F_BDWJ")), QStringLiteral("a b.pdf"));
  EXPECT_FALSE(list.UpdateById(9999, {{QStringLiteral("F_ZT"), QStringLiteral("打开")}}));
  EXPECT_THROW(list.FieldAsText(QStringLiteral("F_NOPE")), store::DatabaseError);
}

TEST_F(CatalogueTest, EditOnAnEmptyResultInsertsAndIdsAreNeverReused) {
  QSqlDatabase db = Open();
  store::ResultSet list(db);
  list.SetStatement(store::ExamFilterStatement(QStringLiteral("高考")));
  list.Open();
  list.Edit();
  list.SetField(QStringLiteral("F_ZT"), QStringLiteral("暂无资源"));
  list.Post();
  ASSERT_EQ(list.RecordCount(), 1);
  const qint64 first = list.CurrentId();
  EXPECT_GT(first, 0);

  list.Delete();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.CurrentRow(), -1);
  list.Append();
  list.Post();
  EXPECT_GT(list.CurrentId(), first);
}

TEST_F(CatalogueTest, DeleteMakesTheFollowingRowCurrent) {
  QSqlDatabase db = Open();
  store::ResultSet set(db);
  set.SetStatement(store::AppendTargetStatement());
  set.Open();
  for (int i = 1; i <= 3; ++i) {
    AddRow(set, QString::number(i), QStringLiteral("高考"));
  }
  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();
  list.SetCurrentRow(1);
  list.Delete();
  EXPECT_EQ(list.RecordCount(), 2);
  EXPECT_EQ(list.CurrentRow(), 1);
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_bh")), QStringLiteral("1"));
  list.Delete();
  EXPECT_EQ(list.CurrentRow(), 0);
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_bh")), QStringLiteral("3"));
}

TEST_F(CatalogueTest, DeleteByIdTakesThatRowWhereverItStandsAndKeepsTheCurrentOne) {
  QSqlDatabase db = Open();
  MarkOf(db, {"1", "2", "3", "4"});
  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();  // 4, 3, 2, 1
  const qint64 four = list.FieldAsText(0, QStringLiteral("F_id")).toLongLong();
  const qint64 one = list.FieldAsText(3, QStringLiteral("F_id")).toLongLong();
  list.SetCurrentRow(2);
  EXPECT_TRUE(list.DeleteById(four));
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_bh")), QStringLiteral("2"));
  EXPECT_FALSE(list.DeleteById(four));
  // A row the list does not hold goes from the table all the same.
  list.Close();
  EXPECT_TRUE(list.DeleteById(one));
  EXPECT_EQ(StoredNumbers(db), QStringList({"2", "3"}));
}

}  // namespace
