#include "store/catalogue.h"
#include "store/result_set.h"
#include "store/statements.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVector>

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

TEST_F(CatalogueTest, MissingFileIsCreatedEmptyWithTheTable) {
  QSqlDatabase db = Open();
  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();
  EXPECT_EQ(list.RecordCount(), 0);
  EXPECT_EQ(list.CurrentRow(), -1);
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_SJMC")), QString());
  for (const char* column : {"F_id", "F_bh", "F_SJMC", "F_KM", "F_ZFL1", "F_LB", "F_MS", "F_ZT", "F_BZ", "F_GXSJ",
                             "F_BDWJ"}) {
    EXPECT_GE(db.record(QStringLiteral("VXT_TM")).indexOf(QString::fromLatin1(column)), 0) << column;
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

QStringList Names(QSqlDatabase db, const QString& select) {
  QSqlQuery query(db);
  query.exec(select);
  QStringList names;
  while (query.next()) names << query.value(0).toString();
  return names;
}

QStringList StoredNumbers(QSqlDatabase db) { return Names(db, QStringLiteral("select F_bh from VXT_TM order by F_id")); }

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

TEST_F(CatalogueTest, UpdatesWriteThroughAndKeepTheRowCurrent) {
  QSqlDatabase db = Open();
  store::ResultSet set(db);
  set.SetStatement(store::AppendTargetStatement());
  set.Open();
  EXPECT_THROW(set.SetField(QStringLiteral("F_bh"), QStringLiteral("1")), store::DatabaseError) << "before Append";
  AddRow(set, QStringLiteral("1"), QStringLiteral("高考"), QStringLiteral("一"));
  AddRow(set, QStringLiteral("2"), QStringLiteral("高考"), QStringLiteral("二"));
  EXPECT_EQ(set.FieldAsText(QStringLiteral("F_SJMC")), QStringLiteral("二"));

  store::ResultSet list(db);
  list.SetStatement(store::DefaultListStatement());
  list.Open();
  list.SetCurrentRow(1);
  EXPECT_TRUE(list.UpdateById(list.CurrentId(), {{QStringLiteral("F_zt"), QStringLiteral("打开")}}));
  EXPECT_EQ(list.CurrentRow(), 1);
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_ZT")), QStringLiteral("打开"));

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
  EXPECT_THROW(list.UpdateById(newest, {{QStringLiteral("F_NOPE"), QString()}}), store::DatabaseError);
}

TEST_F(CatalogueTest, IdsAreNeverReused) {
  QSqlDatabase db = Open();
  store::ResultSet list(db);
  list.SetStatement(store::ExamFilterStatement(QStringLiteral("高考")));
  list.Open();
  list.Append();
  list.SetField(QStringLiteral("F_ZT"), QStringLiteral("暂无资源"));
  list.Post();
  ASSERT_EQ(list.RecordCount(), 1);
  const qint64 first = list.CurrentId();
  EXPECT_GT(first, 0);

  list.DeleteById(first);
  EXPECT_EQ(list.RecordCount(), 0);
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
  list.DeleteById(list.CurrentId());
  EXPECT_EQ(list.RecordCount(), 2);
  EXPECT_EQ(list.CurrentRow(), 1);
  EXPECT_EQ(list.FieldAsText(QStringLiteral("F_bh")), QStringLiteral("1"));
  list.DeleteById(list.CurrentId());
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

QVector<qint64> Ids(QSqlDatabase db, const QString& select) {
  QSqlQuery query(db);
  EXPECT_TRUE(query.exec(select)) << select.toStdString();
  QVector<qint64> ids;
  while (query.next()) ids << query.value(0).toLongLong();
  return ids;
}

// Ids the result set shows, row by row from the first, reading every page in turn.
QVector<qint64> ShownIds(const store::ResultSet& list) {
  QVector<qint64> ids;
  for (int row = 0; row < list.RecordCount(); ++row) ids << list.FieldAsText(row, QStringLiteral("F_id")).toLongLong();
  return ids;
}

// Ids held in kept orders now.
int KeptIds(QSqlDatabase db) {
  int kept = 0;
  for (const QString& table : Names(db, QStringLiteral("select name from temp.sqlite_master where type = 'table' "
                                                       "and name like 'vxt_order_%'"))) {
    kept += static_cast<int>(Ids(db, QStringLiteral("select count(*) from temp.%1").arg(table)).value(0));
  }
  return kept;
}

// 10,000 papers: 高考 holds the even ones (5,000, twenty pages, more than are held at once), 申论 is in every third
// title, titles do not follow the numbers, every fourth paper is downloaded.
void FillCatalogue(QSqlDatabase db) {
  ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral(
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 10000) "
      "insert into VXT_TM (F_bh, F_SJMC, F_KM, F_ZT) select i, '试卷' || (i * 7919 % 10000) || "
      "case when i % 3 = 0 then '申论' else '' end, case i % 2 when 0 then '高考' else '公务员考试' end, "
      "case i % 4 when 0 then '打开' else '下载' end from n")));
}

// While a list is shown its rows keep their places, read by offset or from a kept order alike: a row updated stays
// put with its new values, a row deleted through the list takes its place with it and the rows after it move up,
// a paper stored meanwhile waits for the refresh.
TEST_F(CatalogueTest, EveryKindOfListKeepsItsRowsInPlaceUntilTheRefresh) {
  QSqlDatabase db = Open();
  FillCatalogue(db);
  const QString exam = QStringLiteral("高考");
  const store::ListQuery byExam = store::ExamFilterStatement(exam);
  struct Case {
    const char* label;
    store::ListQuery list;
    const char* oracle;  // the same list, asked of the engine directly
    bool keeps;
  };
  const Case cases[] = {
      {"default list", store::DefaultListStatement(), "select F_id from VXT_TM order by F_id desc limit 100", false},
      {"exam", byExam, "select F_id from VXT_TM where F_KM = '高考' order by F_id desc", false},
      {"exam, oldest first", store::SortedStatement(byExam, "F_id", Qt::AscendingOrder),
       "select F_id from VXT_TM where F_KM = '高考' order by F_id", false},
      {"search", store::SearchStatement({}, "申论"),
       "select F_id from VXT_TM where F_SJMC like '%申论%' order by F_id desc", true},
      {"exam by status", store::SortedStatement(byExam, "F_ZT", Qt::AscendingOrder),
       "select F_id from VXT_TM where F_KM = '高考' order by F_ZT, F_id desc", true},
      {"everything by title", store::SortedStatement({}, "F_SJMC", Qt::DescendingOrder),
       "select F_id from VXT_TM order by F_SJMC desc, F_id desc", true},
      {"newest 100 by status", store::SortedStatement(store::DefaultListStatement(), "F_ZT", Qt::DescendingOrder),
       "select F_id from (select * from VXT_TM order by F_id desc limit 100) order by F_ZT desc, F_id desc", true},
  };
  store::ResultSet appendTarget(db);
  appendTarget.SetStatement(store::AppendTargetStatement());
  appendTarget.Open();
  store::ResultSet list(db);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    list.SetStatement(c.list);
    list.Open();
    QVector<qint64> shown = Ids(db, QString::fromUtf8(c.oracle));
    ASSERT_EQ(list.RecordCount(), shown.size());
    // A paper every list would show first, stored by the catalogue update meanwhile.
    AddRow(appendTarget, QStringLiteral("99999"), exam, QStringLiteral("新申论"));
    const qint64 stored = appendTarget.CurrentId();
    // A download changes a status (which sorts it elsewhere), the user deletes an earlier row.
    const int updated = static_cast<int>(shown.size()) * 3 / 5;
    const int deleted = static_cast<int>(shown.size()) / 5;
    const QString status = list.FieldAsText(updated, "F_ZT") == "下载" ? "打开" : "下载";
    EXPECT_TRUE(list.UpdateById(shown[updated], {{QStringLiteral("F_ZT"), status}}));
    EXPECT_TRUE(list.DeleteById(shown[deleted]));
    const qint64 gone = shown.takeAt(deleted);

    EXPECT_EQ(ShownIds(list), shown) << "every row in place, on both sides of every page boundary, to the last";
    EXPECT_EQ(list.FieldAsText(updated - 1, "F_ZT"), status);
    EXPECT_EQ(list.FieldAsText(shown.size(), "F_id"), QString()) << "past the end";
    // Found by id after reading every page, the first rows no longer held.
    EXPECT_EQ(list.RowOfId(shown[3]), 3);
    EXPECT_EQ(list.RowOfId(shown.back()), shown.size() - 1);
    EXPECT_EQ(list.RowOfId(gone), -1);
    EXPECT_EQ(list.RowOfId(stored), -1);
    EXPECT_EQ(KeptIds(db) > 0, c.keeps);

    list.Refresh();
    EXPECT_EQ(ShownIds(list), Ids(db, QString::fromUtf8(c.oracle))) << "the refresh shows the table as it is";
  }
}

// The engine may refuse to empty the kept order (and even to drop it while another statement is being read): the
// next kept order must not be numbered after the ids left behind.
TEST_F(CatalogueTest, AKeptOrderTheEngineWillNotEmptyIsNeverBuiltOn) {
  QSqlDatabase db = Open();
  FillCatalogue(db);
  const store::ListQuery all;
  const QVector<qint64> byTitle = Ids(db, QStringLiteral("select F_id from VXT_TM order by F_SJMC, F_id desc"));
  const QVector<qint64> byNumber = Ids(db, QStringLiteral("select F_id from VXT_TM order by cast(F_bh as integer) "
                                                          "desc, F_id desc"));
  store::ResultSet list(db);
  for (const bool readingMeanwhile : {false, true}) {
    SCOPED_TRACE(readingMeanwhile ? "emptying and dropping refused" : "emptying refused");
    list.SetStatement(store::SortedStatement(all, "F_SJMC", Qt::AscendingOrder));
    list.Open();
    ASSERT_EQ(list.FieldAsText(5000, "F_id").toLongLong(), byTitle[5000]);
    for (const QString& table : Names(db, QStringLiteral("select name from temp.sqlite_master where type = 'table' "
                                                         "and name like 'vxt_order_%'"))) {
      ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("create temp trigger if not exists refuse_%1 before delete on %1 "
                                                    "begin select raise(fail, 'refused'); end").arg(table)));
    }
    QSqlQuery reading(db);
    if (readingMeanwhile) {
      ASSERT_TRUE(reading.exec(QStringLiteral("select F_id from VXT_TM")) && reading.next());
    }
    list.SetStatement(store::SortedStatement(all, "F_bh", Qt::DescendingOrder));
    list.Open();
    EXPECT_EQ(list.FieldAsText(5000, "F_id").toLongLong(), byNumber[5000]);
    EXPECT_EQ(list.RowOfId(byNumber[7000]), 7000);
    EXPECT_EQ(ShownIds(list), byNumber);
    reading.finish();
  }
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
  const auto ids = [&](const store::ListQuery& statement) {
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
    store::ListQuery statement;
    const char* column;
    Qt::SortOrder order;
    const char* expected;
  };
  const store::ListQuery all = store::DefaultListStatement();
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

// The engine's own plan for a page of each unlimited list: it sorts exactly for the lists kept for their order, and
// every list not kept is an index walk that reaches any page by counting along it. A search is kept for its filter,
// which no index answers: the walk reads every title it passes, shown or not.
TEST_F(CatalogueTest, ListsKeepTheirOrderExactlyWhereNoIndexWalkServesIt) {
  QSqlDatabase db = Open();
  const store::ListQuery all;
  const store::ListQuery exam = store::ExamFilterStatement(QStringLiteral("高考"));
  const store::ListQuery search = store::SearchStatement(QStringLiteral("高考"), QStringLiteral("申论"));
  // The key of the walk: the exam's index or the ids themselves, which the engine names "INTEGER PRIMARY KEY".
  const char* const byExam = "VXT_TM_F_KM";
  const char* const byId = "PRIMARY KEY";
  struct Case {
    const char* label;
    store::ListQuery list;
    bool keeps;
    const char* walk;  // for a list not kept: what its page walks along
  };
  const Case cases[] = {
      {"default list", store::DefaultListStatement(), false, byId},
      {"append target", store::AppendTargetStatement(), false, byId},
      {"whole catalogue", all, false, byId},
      {"exam", exam, false, byExam},
      {"exam, oldest first", store::SortedStatement(exam, "f_id", Qt::AscendingOrder), false, byExam},
      {"exam, newest first", store::SortedStatement(exam, "F_ID", Qt::DescendingOrder), false, byExam},
      {"exam by its exam", store::SortedStatement(exam, "F_KM", Qt::DescendingOrder), false, byExam},
      {"newest 100, oldest first", store::SortedStatement(store::DefaultListStatement(), "F_id", Qt::AscendingOrder),
       false, byId},
      {"search", store::SearchStatement({}, QStringLiteral("申论")), true, ""},
      {"search in an exam", search, true, ""},
      {"search, oldest first", store::SortedStatement(search, "F_id", Qt::AscendingOrder), true, ""},
      {"exam by status", store::SortedStatement(exam, "F_ZT", Qt::AscendingOrder), true, ""},
      {"exam by server number", store::SortedStatement(exam, "F_bh", Qt::DescendingOrder), true, ""},
      {"whole catalogue by exam", store::SortedStatement(all, "F_KM", Qt::AscendingOrder), true, ""},
      {"newest 100 by title", store::SortedStatement(store::DefaultListStatement(), "F_SJMC", Qt::AscendingOrder),
       true, ""},
      {"high-water mark", store::HighWaterMarkStatement(), true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store::KeepsOrder(c.list), c.keeps) << c.label;
    if (c.list.limit > 0) continue;  // a page or less, read whole at the opening
    for (const bool reversed : {false, true}) {
      store::Statement page = store::PageStatement(c.list, 1000000, reversed);
      QSqlQuery plan(db);
      ASSERT_TRUE(plan.prepare(QStringLiteral("explain query plan ") + page.text)) << c.label;
      page.bindings << 256 << 5000;
      for (int i = 0; i < page.bindings.size(); ++i) plan.bindValue(i, page.bindings[i]);
      ASSERT_TRUE(plan.exec()) << c.label;
      QString steps;
      while (plan.next()) steps += plan.value(3).toString() + QLatin1Char('\n');
      // The plan's wording moves between engine versions ("SCAN TABLE t" became "SCAN t"; a partial sort reads "RIGHT
      // PART OF ORDER BY" in one and "LAST TERM OF ORDER BY" in another), so only what every version says is
      // matched: a sort's temporary b-tree, and the name of the index or key a walk goes along.
      const bool searches = c.list.rows == store::ListQuery::Rows::TitleSearch;
      EXPECT_EQ(steps.contains(QLatin1String("TEMP B-TREE"), Qt::CaseInsensitive), c.keeps && !searches)
          << c.label << (reversed ? ", reversed: " : ": ") << steps.toStdString();
      EXPECT_TRUE(c.keeps || steps.contains(QLatin1String(c.walk), Qt::CaseInsensitive))
          << c.label << (reversed ? ", reversed: " : ": ") << steps.toStdString();
    }
  }
}

}  // namespace
