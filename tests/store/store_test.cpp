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

  // Far beyond the rows read so far: the database finds it, and the rows after it move up by one.
  ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000) "
      "insert into VXT_TM (F_bh, F_KM) select i, '高考' from n")));
  list.SetStatement(store::ExamFilterStatement(QStringLiteral("高考")));
  list.Open();
  const qint64 newest = list.CurrentId();
  EXPECT_TRUE(list.DeleteById(newest - 700));
  EXPECT_EQ(list.RecordCount(), 999);
  EXPECT_EQ(list.CurrentId(), newest);
  EXPECT_EQ(list.FieldAsText(700, QStringLiteral("F_id")).toLongLong(), newest - 701);
}

// A list of several pages reads, edits and deletes exactly as one held whole would.
// Both ways of reading a page: by offset from the nearer end, and from the order kept once reading proved slow.
TEST_F(CatalogueTest, ListsOfManyPagesKeepEveryRowOperation) {
  constexpr int kRows = 6000;
  QSqlDatabase db = Open();
  for (const qint64 slowPageMs : {qint64{-1}, qint64{0}}) {
    store::ResultSet::SetSlowPageMs(slowPageMs);
    SCOPED_TRACE(slowPageMs < 0 ? "pages read by offset" : "pages read from the kept order");
    QSqlQuery fill(db);
    ASSERT_TRUE(fill.exec(QStringLiteral("delete from VXT_TM")));
    ASSERT_TRUE(fill.exec(QStringLiteral(
        "with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
        "insert into VXT_TM (F_bh, F_SJMC, F_KM, F_ZT) select i, '试卷' || i, "
        "case i % 2 when 0 then '高考' else '公务员考试' end, '下载' from n").arg(kRows)));
    store::ResultSet list(db);
    list.SetStatement(store::ExamFilterStatement(QStringLiteral("高考")));
    list.Open();
    // Newest first: row r holds paper 6000 - 2r.
    const auto paperAt = [](int row) { return QString::number(kRows - 2 * row); };
    ASSERT_EQ(list.RecordCount(), kRows / 2);
    struct Case {
      const char* label;
      int row;
    };
    for (const Case& c : {Case{"first page", 3}, Case{"third page", 600}, Case{"the middle", 1500}, Case{"last row", kRows / 2 - 1},
                          Case{"back to the first page", 0}, Case{"page boundary", 256}}) {
      list.SetCurrentRow(c.row);
      EXPECT_EQ(list.CurrentRow(), c.row) << c.label;
      EXPECT_EQ(list.FieldAsText(QStringLiteral("F_bh")), paperAt(c.row)) << c.label;
      EXPECT_EQ(list.RowOfId(list.CurrentId()), c.row) << c.label;
  }
    EXPECT_EQ(list.FieldAsText(kRows / 2, QStringLiteral("F_bh")), QString()) << "past the end";
    // The kept order holds the whole exam once reading was slow, and nothing otherwise.
    QSqlQuery tables(db);
    ASSERT_TRUE(tables.exec(QStringLiteral("select name from temp.sqlite_master where name like 'vxt_order_%'")));
    int kept = 0;
    while (tables.next()) {
      QSqlQuery rows(db);
      ASSERT_TRUE(rows.exec(QStringLiteral("select count(*) from temp.%1").arg(tables.value(0).toString())));
      kept += rows.next() ? rows.value(0).toInt() : 0;
    }
    EXPECT_EQ(kept, slowPageMs == 0 ? kRows / 2 : 0);

    // Edit and post on a far page: the row stays current and shows its values.
    list.SetCurrentRow(1400);
    list.Edit();
    list.SetField(QStringLiteral("F_ZT"), QStringLiteral("打开"));
    list.Post();
    EXPECT_EQ(list.CurrentRow(), 1400);
    EXPECT_EQ(list.FieldAsText(QStringLiteral("F_ZT")), QStringLiteral("打开"));

    // Update by id of a row whose page is not held, then read it.
    const qint64 farId = list.FieldAsText(5, QStringLiteral("F_id")).toLongLong();
    for (int row = 0; row < list.RecordCount(); row += 128) list.FieldAsText(row, QStringLiteral("F_id"));
    list.UpdateById(farId, {{QStringLiteral("F_BDWJ"), QStringLiteral("far.pdf")}});
    EXPECT_EQ(list.FieldAsText(5, QStringLiteral("F_BDWJ")), QStringLiteral("far.pdf"));
    EXPECT_EQ(list.RowOfId(farId), 5);
    EXPECT_EQ(list.RowOfId(1), -1) << "a paper of the other exam";

    // Delete on a later page: the rows after it move up, the count follows, the next row becomes current.
    list.SetCurrentRow(1300);
    list.Delete();
    EXPECT_EQ(list.RecordCount(), kRows / 2 - 1);
    EXPECT_EQ(list.CurrentRow(), 1300);
    EXPECT_EQ(list.FieldAsText(QStringLiteral("F_bh")), paperAt(1301));
    EXPECT_EQ(list.FieldAsText(kRows / 2 - 2, QStringLiteral("F_bh")), paperAt(kRows / 2 - 1));

    list.Refresh();
    EXPECT_EQ(list.RecordCount(), kRows / 2 - 1);
    EXPECT_EQ(list.CurrentRow(), 0);
    EXPECT_EQ(list.FieldAsText(1399, QStringLiteral("F_ZT")), QStringLiteral("打开")) << "moved up by the delete";
  }
  store::ResultSet::SetSlowPageMs(-1);
}

TEST_F(CatalogueTest, SearchMatchesTitlesLiterallyAndSortOrdersInTheDatabase) {
  QSqlDatabase db = Open();
  store::ResultSet set(db);
  set.SetStatement(store::AppendTargetStatement());
  set.Open();
  // bh, exam, title; F_id grows in this order.
  const char* rows[][3] = {
      {"1", "高考", "2019年申论真题"},  {"2", "公务员考试", "100%通过_申论"}, {"3", "高考", "O'Brien 申论"},
      {"4", "公务员考试", "数学 a_b"},  {"5", "高考", "数学 axb"},          {"6", "公务员考试", "行测\\真题"},
      {"10", "高考", "2019年申论真题"},
  };
  for (const auto& row : rows) AddRow(set, row[0], row[1], row[2]);
  const auto ids = [&](const store::Statement& statement) {
    store::ResultSet list(db);
    list.SetStatement(statement);
    list.Open();
    QStringList out;
    for (int row = 0; row < list.RecordCount(); ++row) out << list.FieldAsText(row, QStringLiteral("F_id"));
    return out.join(QLatin1Char(' '));
  };
  struct Case {
    const char* label;
    QString exam;
    QString text;
    const char* expected;  // F_id, newest first
  };
  const Case searches[] = {
      {"Chinese term, whole catalogue", {}, "申论", "7 3 2 1"},
      {"Chinese term in one exam", "高考", "申论", "7 3 1"},
      {"percent is literal", {}, "%", "2"},
      {"underscore is literal", {}, "a_b", "4"},
      {"underscore is not a wildcard", {}, "_", "4 2"},
      {"quote", {}, "O'Brien", "3"},
      {"backslash", {}, "\\", "6"},
      {"letters keep their case", {}, "o'brien", ""},
      {"no match", {}, "无此试卷", ""},
      {"empty text: the default list", {}, "", "7 6 5 4 3 2 1"},
      {"empty text: the exam filter", "公务员考试", "", "6 4 2"},
  };
  for (const Case& c : searches) {
    EXPECT_EQ(ids(store::SearchStatement(c.exam, c.text)), QString::fromLatin1(c.expected)) << c.label;
  }

  struct SortCase {
    const char* label;
    store::Statement statement;
    const char* column;
    Qt::SortOrder order;
    const char* expected;
  };
  const store::Statement all = store::DefaultListStatement();
  const SortCase sorts[] = {
      {"number up", all, "F_id", Qt::AscendingOrder, "1 2 3 4 5 6 7"},
      {"number down", all, "f_id", Qt::DescendingOrder, "7 6 5 4 3 2 1"},
      {"server number as a number", all, "F_bh", Qt::DescendingOrder, "7 6 5 4 3 2 1"},
      {"exam, ties newest first", all, "F_KM", Qt::AscendingOrder, "6 4 2 7 5 3 1"},
      {"exam the other way", all, "F_KM", Qt::DescendingOrder, "7 5 3 1 6 4 2"},
      {"equal titles newest first", all, "F_SJMC", Qt::AscendingOrder, "2 7 1 3 4 5 6"},
      {"within an exam", store::ExamFilterStatement("高考"), "F_SJMC", Qt::DescendingOrder, "5 3 7 1"},
      {"a search result", store::SearchStatement({}, "申论"), "F_KM", Qt::AscendingOrder, "2 7 3 1"},
      {"an unknown column leaves the order", all, "F_NOPE", Qt::AscendingOrder, "7 6 5 4 3 2 1"},
  };
  for (const SortCase& c : sorts) {
    EXPECT_EQ(ids(store::SortedStatement(c.statement, QString::fromLatin1(c.column), c.order)),
              QString::fromLatin1(c.expected))
        << c.label;
  }
}

TEST(StatementsTest, PagesCountsAndReversesAreDerivedFromTheStatement) {
  struct Case {
    const char* in;
    const char* count;
    const char* reversed;  // empty: cannot be turned round exactly
  };
  const Case cases[] = {
      {"select * from VXT_TM where F_KM =? order by f_id desc",
       "select count(*) from (select * from VXT_TM where F_KM =?)",
       "select * from VXT_TM where F_KM =? order by f_id asc"},
      {"select * from VXT_TM  order by f_id desc limit 100",
       "select count(*) from (select * from VXT_TM  order by f_id desc limit 100)", ""},
      {"select * from (select * from VXT_TM order by f_id desc limit 100) order by F_SJMC asc, F_id desc",
       "select count(*) from (select * from (select * from VXT_TM order by f_id desc limit 100))",
       "select * from (select * from VXT_TM order by f_id desc limit 100) order by F_SJMC desc, F_id asc"},
      {"select * from VXT_TM where F_KM = ? order by F_ZT, F_id desc",
       "select count(*) from (select * from VXT_TM where F_KM = ?)",
       "select * from VXT_TM where F_KM = ? order by F_ZT desc, F_id asc"},
      {"select * from VXT_TM order by F_SJMC desc", "select count(*) from (select * from VXT_TM)", ""},
      {"select * from VXT_TM", "select count(*) from (select * from VXT_TM)", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store::CountStatementText(QString::fromUtf8(c.in)), QString::fromUtf8(c.count)) << c.in;
    EXPECT_EQ(store::ReversedStatementText(QString::fromUtf8(c.in)), QString::fromUtf8(c.reversed)) << c.in;
  }
}

}  // namespace
