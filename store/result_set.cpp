#include "store/result_set.h"

#include "store/catalogue.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QElapsedTimer>
#include <QSqlRecord>

#include <algorithm>

namespace store {
namespace {

// Rows read in one go: a few screens of the grid. Only a handful of pages are held, so scrolling through an exam of a
// million papers keeps memory flat.
constexpr int kPageRows = 256;
constexpr int kPagesHeld = 16;
// Pages this close to either end of a list are always cheap to read; a page further in that takes longer than this
// to read makes the list keep its order (see ReadPage).
constexpr int kPagesNearAnEnd = 4;
constexpr qint64 kDefaultSlowPageMs = 50;
qint64 g_slowPageMs = kDefaultSlowPageMs;

constexpr const char* kIdField = "F_id";

QString FieldNotFound(const QString& name) { return QStringLiteral("Field '%1' not found").arg(name); }

}  // namespace

ResultSet::ResultSet(QSqlDatabase database, QObject* parent) : QObject(parent), m_database(std::move(database)) {}

ResultSet::~ResultSet() {
  DropOrder();
  if (!m_orderTable.isEmpty()) {
    // Fails while another statement of the connection is open; the table is empty then, and goes with the connection.
    m_prepared.clear();
    QSqlQuery(m_database).exec(QStringLiteral("drop table if exists temp.%1").arg(m_orderTable));
  }
}

void ResultSet::SetSlowPageMs(qint64 ms) { g_slowPageMs = ms < 0 ? kDefaultSlowPageMs : ms; }

QSqlQuery& ResultSet::Run(const QString& text, const QVariantList& bindings) const {
  // The catalogue update reopens the same statement and posts the same insert once per record, and the grid reads
  // page after page of one statement: preparing each text once keeps both cheap.
  auto it = m_prepared.find(text);
  if (it == m_prepared.end()) {
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(text)) {
      throw DatabaseError(query.lastError().text());
    }
    it = m_prepared.insert(text, std::move(query));
  }
  QSqlQuery& query = it.value();
  for (int i = 0; i < bindings.size(); ++i) {
    query.bindValue(i, bindings[i]);
  }
  if (!query.exec()) {
    const QString message = query.lastError().text();
    query.finish();
    throw DatabaseError(message);
  }
  return query;
}

QVector<ResultSet::Row> ResultSet::ReadRows(const QString& sqliteText, int first, int count) const {
  QVariantList bindings = m_statement.bindings;
  bindings << count << first;
  return TakeRows(Run(PageStatementText(sqliteText), bindings));
}

QVector<ResultSet::Row> ResultSet::TakeRows(QSqlQuery& query) const {
  if (m_columns.isEmpty()) {
    const QSqlRecord record = query.record();
    for (int i = 0; i < record.count(); ++i) {
      m_columns << record.fieldName(i);
    }
  }
  QVector<Row> rows;
  while (query.next()) {
    Row row(m_columns.size());
    for (int i = 0; i < row.size(); ++i) {
      row[i] = query.value(i);
    }
    rows.push_back(std::move(row));
  }
  // A finished select holds no read lock on the file between reads.
  query.finish();
  return rows;
}

QVector<ResultSet::Row> ResultSet::ReadPage(int page) const {
  const int first = page * kPageRows;
  const int statementRows = StatementRowCount();
  const int end = std::min(first + kPageRows, statementRows);
  if (m_orderKept) {
    return TakeRows(Run(QStringLiteral("select t.* from temp.%1 o join %2 t on t.F_id = o.F_id "
                                       "where o.rowid > ? and o.rowid <= ? order by o.rowid")
                            .arg(m_orderTable, kTableName),
                        {first, end}));
  }
  const QString reversed = ReversedStatementText(m_sqliteText);
  const bool farHalf = first >= statementRows / 2 && !reversed.isEmpty();
  const int fromEnd = farHalf ? statementRows - end : first;
  const bool middle = fromEnd > kPagesNearAnEnd * kPageRows;
  // A list whose first page was already slow to read is ordered by computation: the middle would cost a whole sort.
  if (middle && m_firstPageMs >= g_slowPageMs && KeepOrder()) {
    return ReadPage(page);
  }
  QElapsedTimer timer;
  timer.start();
  QVector<Row> rows;
  if (farHalf) {
    // The far half of a long list is read from its other end: an offset costs a walk over every row it skips, and a
    // sorted list would be sorted whole to find its last rows.
    rows = ReadRows(reversed, statementRows - end, end - first);
    std::reverse(rows.begin(), rows.end());
  } else {
    rows = ReadRows(m_sqliteText, first, kPageRows);
  }
  // A page in the middle that was slow to reach is a list ordered by computation, not by an index (a column the
  // user sorted by): every further page would sort it whole again. Its order is kept once, as ids in a temporary
  // table, and the pages are read from there.
  if (middle && timer.elapsed() >= g_slowPageMs) {
    KeepOrder();
  }
  return rows;
}

bool ResultSet::KeepOrder() const {
  // One table per result set, emptied rather than dropped when the order goes: the engine refuses to drop a table
  // while any statement of the connection is still open (another window's, too), but never to empty one.
  if (m_orderTable.isEmpty()) {
    static int serial = 0;
    const QString table = QStringLiteral("vxt_order_%1").arg(++serial);
    if (!QSqlQuery(m_database).exec(QStringLiteral("create temp table %1 (F_id integer)").arg(table))) {
      return false;
    }
    m_orderTable = table;
  }
  QSqlQuery fill(m_database);
  fill.prepare(QStringLiteral("insert into temp.%1 (F_id) select F_id from (%2)").arg(m_orderTable, m_sqliteText));
  for (int i = 0; i < m_statement.bindings.size(); ++i) {
    fill.bindValue(i, m_statement.bindings[i]);
  }
  // Only a speed-up: when the engine refuses, the pages go on being read from the statement itself.
  m_orderKept = fill.exec();
  return m_orderKept;
}

void ResultSet::DropOrder() const {
  if (!m_orderKept) {
    return;
  }
  // Emptied, the table numbers its rows from 1 again when the order is next kept.
  QSqlQuery(m_database).exec(QStringLiteral("delete from temp.%1").arg(m_orderTable));
  m_orderKept = false;
}

const ResultSet::Row* ResultSet::RowAt(int row) const {
  if (row < 0) {
    return nullptr;
  }
  const int statementRows = StatementRows();
  if (row >= statementRows) {
    const int appended = row - statementRows;
    return appended < m_appended.size() ? &m_appended[appended] : nullptr;
  }
  const int page = row / kPageRows;
  auto it = m_pages.find(page);
  if (it == m_pages.end()) {
    if (m_pages.size() >= kPagesHeld) {
      m_pages.remove(m_pageUse.takeFirst());
    }
    it = m_pages.insert(page, ReadPage(page));
  } else {
    m_pageUse.removeOne(page);
  }
  m_pageUse.push_back(page);
  const int offset = row - page * kPageRows;
  // The table may have lost rows since the count was taken (another window deleted one): the row reads as empty.
  return offset < it->size() ? &(*it)[offset] : nullptr;
}

ResultSet::Row* ResultSet::HeldRow(int row) {
  const int statementRows = StatementRows();
  if (row < 0) {
    return nullptr;
  }
  if (row >= statementRows) {
    const int appended = row - statementRows;
    return appended < m_appended.size() ? &m_appended[appended] : nullptr;
  }
  auto page = m_pages.find(row / kPageRows);
  const int offset = row % kPageRows;
  return page != m_pages.end() && offset < page->size() ? &(*page)[offset] : nullptr;
}

int ResultSet::HeldRowOfId(qint64 id) const {
  const int column = ColumnOf(kIdField);
  if (column < 0) {
    return -1;
  }
  for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
    for (int i = 0; i < page->size(); ++i) {
      if ((*page)[i][column].toLongLong() == id) {
        return page.key() * kPageRows + i;
      }
    }
  }
  for (int i = 0; i < m_appended.size(); ++i) {
    if (m_appended[i][column].toLongLong() == id) {
      return StatementRows() + i;
    }
  }
  return -1;
}

int ResultSet::StatementRows() const { return m_open ? StatementRowCount() : 0; }

int ResultSet::StatementRowCount() const {
  if (m_statementRows < 0) {
    QSqlQuery& query = Run(CountStatementText(m_sqliteText), m_statement.bindings);
    m_statementRows = query.next() ? query.value(0).toInt() : 0;
    query.finish();
  }
  return m_statementRows;
}

void ResultSet::ForgetPages() {
  DropOrder();
  m_pages.clear();
  m_pageUse.clear();
  m_statementRows = -1;
}

void ResultSet::Close() {
  const bool hadRows = RecordCount() > 0;
  m_open = false;
  ForgetPages();
  m_appended.clear();
  m_current = -1;
  m_mode = Mode::Browse;
  m_pending.clear();
  if (hadRows) {
    emit Reopened();
  }
}

void ResultSet::SetStatement(const Statement& statement) {
  m_statement = statement;
  m_sqliteText = ToSqliteDialect(statement.text);
}

void ResultSet::Open() {
  Close();
  // The first page is read now: it reports a statement the database refuses here, not in the grid's painting, and a
  // result that fits in it needs no count of its own (the catalogue update opens its append target once a record).
  m_columns.clear();
  QElapsedTimer timer;
  timer.start();
  QVector<Row> first = ReadRows(m_sqliteText, 0, kPageRows);
  m_firstPageMs = timer.elapsed();
  if (first.size() < kPageRows) {
    m_statementRows = static_cast<int>(first.size());
  }
  m_pages.insert(0, std::move(first));
  m_pageUse.push_back(0);
  m_open = true;
  m_current = RecordCount() > 0 ? 0 : -1;
  emit Reopened();
  emit CurrentRowChanged(m_current);
}

void ResultSet::Refresh() {
  Close();
  Open();
}

int ResultSet::RecordCount() const { return StatementRows() + static_cast<int>(m_appended.size()); }

void ResultSet::SetCurrentRow(int row) {
  if (row < -1 || row >= RecordCount() || row == m_current) {
    return;
  }
  m_current = row;
  emit CurrentRowChanged(m_current);
}

int ResultSet::ColumnOf(const QString& name) const {
  for (int i = 0; i < m_columns.size(); ++i) {
    if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0) {
      return i;
    }
  }
  return -1;
}

int ResultSet::RequireColumn(const QString& name) const {
  const int column = ColumnOf(name);
  if (column < 0) {
    throw DatabaseError(FieldNotFound(name));
  }
  return column;
}

void ResultSet::EnsureColumns() {
  if (!m_columns.isEmpty()) {
    return;
  }
  const QSqlRecord record = m_database.record(kTableName);
  for (int i = 0; i < record.count(); ++i) {
    m_columns << record.fieldName(i);
  }
}

QString ResultSet::FieldAsText(const QString& name) const {
  if (m_current < 0) {
    return {};
  }
  return FieldAsText(m_current, name);
}

QString ResultSet::FieldAsText(int row, const QString& name) const { return FieldAsText(row, RequireColumn(name)); }

QString ResultSet::FieldAsText(int row, int column) const {
  const Row* values = RowAt(row);
  if (!values || column < 0 || column >= values->size()) {
    return {};
  }
  const QVariant& value = (*values)[column];
  return value.isNull() ? QString() : value.toString();
}

qint64 ResultSet::CurrentId() const {
  const int column = ColumnOf(kIdField);
  const Row* values = RowAt(m_current);
  if (!values || column < 0) {
    return -1;
  }
  return (*values)[column].toLongLong();
}

int ResultSet::RowOfId(qint64 id) const {
  if (const int held = HeldRowOfId(id); held >= 0 || !m_open || ColumnOf(kIdField) < 0) {
    return held;
  }
  // Not among the rows held: the position comes from the list's kept order, made now if need be (one pass of the
  // statement inside the database, which a walk over its ids would cost as well, and later pages are cheap after).
  if (m_orderKept || KeepOrder()) {
    QSqlQuery& kept = Run(QStringLiteral("select rowid - 1 from temp.%1 where F_id = ?").arg(m_orderTable), {id});
    const int row = kept.next() ? kept.value(0).toInt() : -1;
    kept.finish();
    return row;
  }
  // The engine would not keep it: walk the statement's ids in its own order.
  QSqlQuery& query = Run(IdStatementText(m_sqliteText), m_statement.bindings);
  int row = -1;
  for (int position = 0; query.next(); ++position) {
    if (query.value(0).toLongLong() == id) {
      row = position;
      break;
    }
  }
  query.finish();
  return row < StatementRowCount() ? row : -1;
}

void ResultSet::Append() {
  EnsureColumns();
  m_pending.clear();
  m_mode = Mode::Inserting;
}

void ResultSet::Edit() {
  if (m_current < 0) {
    Append();
    return;
  }
  m_pending.clear();
  m_mode = Mode::Editing;
}

void ResultSet::SetField(const QString& name, const QString& value) {
  if (m_mode == Mode::Browse) {
    throw DatabaseError(QStringLiteral("Dataset not in edit or insert mode"));
  }
  m_pending[RequireColumn(name)] = value;
}

void ResultSet::Post() {
  if (m_mode == Mode::Browse) {
    return;
  }
  const int idColumn = ColumnOf(kIdField);
  if (m_mode == Mode::Inserting) {
    QStringList names;
    QStringList marks;
    QVariantList values;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
      names << m_columns[it.key()];
      marks << QStringLiteral("?");
      values << it.value();
    }
    const QString text = names.isEmpty()
                             ? QStringLiteral("insert into %1 default values").arg(kTableName)
                             : QStringLiteral("insert into %1 (%2) values (%3)")
                                   .arg(kTableName, names.join(','), marks.join(','));
    const QVariant id = Run(text, values).lastInsertId();
    QVector<QVariant> row(m_columns.size());
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
      row[it.key()] = it.value();
    }
    if (idColumn >= 0) {
      row[idColumn] = id;
    }
    m_appended.push_back(std::move(row));
    m_mode = Mode::Browse;
    m_pending.clear();
    emit RowInserted(RecordCount() - 1);
    m_current = RecordCount() - 1;
    emit CurrentRowChanged(m_current);
    return;
  }

  QMap<QString, QString> values;
  for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
    values.insert(m_columns[it.key()], it.value());
  }
  const qint64 id = CurrentId();
  if (!UpdateById(id, values)) {
    throw DatabaseError(QStringLiteral("The record with F_id %1 no longer exists").arg(id));
  }
  m_mode = Mode::Browse;
  m_pending.clear();
}

void ResultSet::Cancel() {
  m_mode = Mode::Browse;
  m_pending.clear();
}

bool ResultSet::UpdateById(qint64 id, const QMap<QString, QString>& values) {
  if (values.isEmpty()) {
    return true;
  }
  EnsureColumns();
  QStringList assignments;
  QVariantList bindings;
  for (auto it = values.cbegin(); it != values.cend(); ++it) {
    assignments << QStringLiteral("%1 = ?").arg(m_columns[RequireColumn(it.key())]);
    bindings << it.value();
  }
  bindings << id;
  const QSqlQuery& query =
      Run(QStringLiteral("update %1 set %2 where F_id = ?").arg(kTableName, assignments.join(", ")), bindings);
  if (query.numRowsAffected() == 0) {
    return false;
  }
  // A row that is not held reads the new values from the database when its page is next read.
  const int row = HeldRowOfId(id);
  if (Row* held = HeldRow(row)) {
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
      (*held)[ColumnOf(it.key())] = it.value();
    }
    emit RowChanged(row);
  }
  return true;
}

void ResultSet::Delete() {
  if (m_current < 0) {
    return;
  }
  DeleteById(CurrentId());
}

bool ResultSet::DeleteById(qint64 id) {
  // Where the row stands, and how many rows the statement yields, are taken before the row leaves the table.
  const int row = m_open ? RowOfId(id) : -1;
  const int statementRows = StatementRows();
  const bool deleted = Run(QStringLiteral("delete from %1 where F_id = ?").arg(kTableName), {id}).numRowsAffected() > 0;
  if (row < 0) {
    return deleted;
  }
  if (row >= statementRows) {
    m_appended.removeAt(row - statementRows);
  } else {
    // The statement's later rows move up by one: the pages from this row's on are read again when needed.
    DropOrder();
    for (auto page = m_pages.begin(); page != m_pages.end();) {
      if (page.key() >= row / kPageRows) {
        m_pageUse.removeOne(page.key());
        page = m_pages.erase(page);
      } else {
        ++page;
      }
    }
    --m_statementRows;
  }
  if (row == m_current) {
    m_mode = Mode::Browse;
    m_pending.clear();
    m_current = RecordCount() == 0 ? -1 : std::min(row, RecordCount() - 1);
  } else if (row < m_current) {
    --m_current;
  }
  // The current row is settled first, so a view following the removal already finds the row it must show.
  emit RowRemoved(row);
  emit CurrentRowChanged(m_current);
  return deleted;
}

}  // namespace store
