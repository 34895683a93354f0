#include "store/statements.h"

#include "store/catalogue.h"

#include <QStringList>
#include <QVector>

namespace store {
namespace {

constexpr int kDefaultListRows = 100;
constexpr const char* kIdColumn = "F_id";
constexpr const char* kExamColumn = "F_KM";
// F_bh holds the server's number as text; it sorts as a number.
constexpr const char* kNumericTextColumn = "F_bh";

// One key of an order; the list's order ends on F_id, unique, so it has an exact mirror image.
struct OrderTerm {
  QString key;
  bool descending;
};
using Order = QVector<OrderTerm>;

QString SortableColumn(const QString& column) {
  // Any column of the table, whatever its case in the caller.
  for (const char* known : kCatalogueColumns) {
    if (column.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) {
      return QString::fromLatin1(known);
    }
  }
  return {};
}

// Every row of the list shares one exam, so a sort by the exam is the newest-first order.
bool OfOneExam(const ListQuery& list) {
  return list.rows == ListQuery::Rows::Exam || (list.rows == ListQuery::Rows::TitleSearch && !list.exam.isEmpty());
}

Order BaseOrder(const ListQuery& list) {
  const OrderTerm newest{QString::fromLatin1(kIdColumn), true};
  if (list.order == ListQuery::Order::HighestServerNumber) {
    return {{QStringLiteral("length(ltrim(F_bh, '0'))"), true}, {QStringLiteral("ltrim(F_bh, '0')"), true}, newest};
  }
  return {newest};
}

// The order the rows are shown in.
Order ShownOrder(const ListQuery& list) {
  const QString column = SortableColumn(list.sortColumn);
  if (column.isEmpty()) {
    return BaseOrder(list);
  }
  const bool descending = list.sortOrder == Qt::DescendingOrder;
  if (column == QLatin1String(kIdColumn)) {
    return {{column, descending}};
  }
  const QString key =
      column == QLatin1String(kNumericTextColumn) ? QStringLiteral("cast(%1 as integer)").arg(column) : column;
  return {{key, descending}, {QString::fromLatin1(kIdColumn), true}};
}

QString OrderText(const Order& order, bool reversed) {
  QStringList terms;
  for (const OrderTerm& term : order) {
    terms << term.key + (term.descending != reversed ? QStringLiteral(" desc") : QStringLiteral(" asc"));
  }
  return terms.join(QStringLiteral(", "));
}

// The conditions the list puts on a row, with their bindings; empty text when it takes every row.
Statement Filter(const ListQuery& list) {
  Statement filter;
  switch (list.rows) {
    case ListQuery::Rows::All:
      break;
    case ListQuery::Rows::Exam:
      filter = {QStringLiteral("F_KM = ?"), {list.exam}};
      break;
    case ListQuery::Rows::TitleSearch:
      // The exam is compared without its index ("+"): reading every row once costs less than looking up most rows
      // of a big exam one by one, and a search reads every title anyway. instr matches the text as it stands: no
      // character of it is a wildcard, so nothing needs escaping.
      if (!list.exam.isEmpty()) {
        filter = {QStringLiteral("+F_KM = ? and "), {list.exam}};
      }
      filter.text += QStringLiteral("instr(F_SJMC, ?) > 0");
      filter.bindings << list.text;
      break;
    case ListQuery::Rows::WholeServerNumbers:
      filter.text = QStringLiteral("F_bh glob '[0-9]*' and F_bh not glob '*[^0-9]*'");
      break;
  }
  return filter;
}

// The list's rows in the table: the ceiling, the filter, then one more condition if given.
Statement Where(const ListQuery& list, qint64 ceiling, const QString& condition = {}) {
  const Statement filter = Filter(list);
  Statement where{QStringLiteral("F_id <= ?"), {ceiling}};
  if (!filter.text.isEmpty()) {
    where.text += QStringLiteral(" and ") + filter.text;
    where.bindings << filter.bindings;
  }
  if (!condition.isEmpty()) {
    where.text += QStringLiteral(" and ") + condition;
  }
  return where;
}

// The list's rows as a source to select from, with one more condition if given: the table itself, or, under a
// limit, the rows the limit picks.
Statement Source(const ListQuery& list, qint64 ceiling, const QString& condition = {}) {
  const QString table = QString::fromLatin1(kTableName);
  if (list.limit <= 0) {
    Statement where = Where(list, ceiling, condition);
    return {QStringLiteral("%1 where %2").arg(table, where.text), where.bindings};
  }
  Statement where = Where(list, ceiling);
  QString source = QStringLiteral("(select * from %1 where %2 order by %3 limit %4)")
                       .arg(table, where.text, OrderText(BaseOrder(list), false))
                       .arg(list.limit);
  if (!condition.isEmpty()) {
    source += QStringLiteral(" where ") + condition;
  }
  return {source, where.bindings};
}

Statement Select(const ListQuery& list, qint64 ceiling, const QString& columns, bool reversed) {
  Statement source = Source(list, ceiling);
  source.text =
      QStringLiteral("select %1 from %2 order by %3").arg(columns, source.text, OrderText(ShownOrder(list), reversed));
  return source;
}

}  // namespace

ListQuery DefaultListStatement() {
  ListQuery list;
  list.limit = kDefaultListRows;
  return list;
}

ListQuery ExamFilterStatement(const QString& examName) {
  ListQuery list;
  list.rows = ListQuery::Rows::Exam;
  list.exam = examName;
  return list;
}

ListQuery HighWaterMarkStatement() {
  ListQuery list;
  list.rows = ListQuery::Rows::WholeServerNumbers;
  list.order = ListQuery::Order::HighestServerNumber;
  list.limit = 1;
  return list;
}

ListQuery AppendTargetStatement() {
  ListQuery list;
  list.limit = 1;
  return list;
}

ListQuery SearchStatement(const QString& examName, const QString& text) {
  if (text.isEmpty()) {
    return examName.isEmpty() ? DefaultListStatement() : ExamFilterStatement(examName);
  }
  ListQuery list;
  list.rows = ListQuery::Rows::TitleSearch;
  list.exam = examName;
  list.text = text;
  return list;
}

ListQuery SortedStatement(const ListQuery& list, const QString& column, Qt::SortOrder order) {
  const QString name = SortableColumn(column);
  if (name.isEmpty()) {
    return list;
  }
  ListQuery sorted = list;
  sorted.sortColumn = name;
  sorted.sortOrder = order;
  // An order that is the list's own is no sort at all: the list reads and keeps its rows as it did before.
  const bool newestFirst = list.order == ListQuery::Order::Newest;
  if ((name == QLatin1String(kExamColumn) && OfOneExam(list) && newestFirst) ||
      (name == QLatin1String(kIdColumn) && order == Qt::DescendingOrder && newestFirst)) {
    sorted.sortColumn.clear();
  }
  return sorted;
}

bool KeepsOrder(const ListQuery& list) {
  if (list.rows == ListQuery::Rows::TitleSearch) {
    return true;
  }
  const Order shown = ShownOrder(list);
  return shown.size() != 1 || shown.front().key != QLatin1String(kIdColumn);
}

bool ShowsNewestFirst(const ListQuery& list) { return ShownOrder(list).front().descending; }

Statement CountStatement(const ListQuery& list, qint64 ceiling) {
  if (list.limit > 0) {
    Statement source = Source(list, ceiling);
    source.text = QStringLiteral("select count(*) from %1").arg(source.text);
    return source;
  }
  // The rows the filter takes, less those above the ceiling: the first part is the plain count an exam's index
  // gives fastest, the second a short walk over the newest ids. A ceiling in the first would cost every row a test.
  const Statement filter = Filter(list);
  const QString table = QString::fromLatin1(kTableName);
  const QString all = filter.text.isEmpty() ? table : QStringLiteral("%1 where %2").arg(table, filter.text);
  const QString above =
      filter.text.isEmpty() ? QStringLiteral("F_id > ?") : filter.text + QStringLiteral(" and F_id > ?");
  return {
      QStringLiteral("select (select count(*) from %1) - (select count(*) from %2 where %3)").arg(all, table, above),
      filter.bindings + filter.bindings + QVariantList{ceiling}};
}

Statement PageStatement(const ListQuery& list, qint64 ceiling, bool reversed) {
  Statement page = Select(list, ceiling, QStringLiteral("*"), reversed);
  page.text += QStringLiteral(" limit ? offset ?");
  return page;
}

Statement IdStatement(const ListQuery& list, qint64 ceiling) {
  return Select(list, ceiling, QString::fromLatin1(kIdColumn), false);
}

Statement NewestRankStatement(const ListQuery& list, qint64 ceiling, qint64 id) {
  Statement source = Source(list, ceiling, QStringLiteral("F_id >= ?"));
  source.text = QStringLiteral("select count(*), coalesce(max(F_id = ?), 0) from %1").arg(source.text);
  source.bindings.prepend(id);
  source.bindings << id;
  return source;
}

Statement CeilingStatement() {
  return {QStringLiteral("select coalesce(max(F_id), 0) from %1").arg(QString::fromLatin1(kTableName)), {}};
}

}  // namespace store
