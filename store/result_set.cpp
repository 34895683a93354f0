#include "store/result_set.h"

#include "store/catalogue.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <utility>

namespace store {
namespace {

constexpr const char* kIdField = "F_id";

QString FieldNotFound(const QString& name) { return QStringLiteral("Field '%1' not found").arg(name); }

}  // namespace

ResultSet::ResultSet(QSqlDatabase database, QObject* parent)
    : QObject(parent), m_statements(std::move(database)), m_reader(m_statements) {}

ResultSet::~ResultSet() = default;

void ResultSet::Close() {
  const bool hadRows = RecordCount() > 0;
  m_open = false;
  m_reader.Close();
  m_pages.Clear();
  m_appended.clear();
  m_current = -1;
  m_pending.Clear();
  if (hadRows) {
    emit Reopened();
  }
}

void ResultSet::SetStatement(const ListQuery& list) { m_list = list; }

void ResultSet::Open() {
  Close();
  EnsureColumns();
  // The first page is read now: it reports a list the database refuses here, not in the grid's painting.
  m_pages.Insert(0, m_reader.Open(m_list, static_cast<int>(m_columns.size())));
  m_open = true;
  m_current = RecordCount() > 0 ? 0 : -1;
  emit Reopened();
  emit CurrentRowChanged(m_current);
}

void ResultSet::Refresh() {
  Close();
  Open();
}

int ResultSet::ListRows() const { return m_open ? m_reader.RowCount() : 0; }

int ResultSet::RecordCount() const { return ListRows() + static_cast<int>(m_appended.size()); }

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

const Row* ResultSet::RowAt(int row) const {
  if (row < 0) {
    return nullptr;
  }
  const int listRows = ListRows();
  if (row >= listRows) {
    const int appended = row - listRows;
    return appended < m_appended.size() ? &m_appended[appended] : nullptr;
  }
  const int page = PageCache::PageOf(row);
  const PageCache::Page* rows = m_pages.Find(page);
  if (!rows) {
    rows = &m_pages.Insert(page, m_reader.ReadPage(page));
  }
  const int offset = row - PageCache::FirstRowOf(page);
  // The table may have lost rows to another program since the count was taken: the row reads as empty.
  return offset < rows->size() ? &(*rows)[offset] : nullptr;
}

QString ResultSet::FieldAsText(const QString& name) const {
  if (m_current < 0) {
    return {};
  }
  return FieldAsText(m_current, name);
}

QString ResultSet::FieldAsText(int row, const QString& name) const {
  const int column = RequireColumn(name);
  const Row* values = RowAt(row);
  if (!values) {
    return {};
  }
  const QVariant& value = (*values)[column];
  return value.isNull() ? QString() : value.toString();
}

qint64 ResultSet::CurrentId() const {
  const int column = ColumnOf(kIdField);
  const Row* values = RowAt(m_current);
  if (!values || column < 0 || (*values)[column].isNull()) {
    return -1;
  }
  return (*values)[column].toLongLong();
}

int ResultSet::RowOfId(qint64 id) const {
  if (!m_open || ColumnOf(kIdField) < 0) {
    return -1;
  }
  if (const int held = HeldRowOfId(id); held >= 0) {
    return held;
  }
  return m_reader.RowOf(id);
}

void ResultSet::Append() {
  EnsureColumns();
  m_pending.Start();
}

void ResultSet::SetField(const QString& name, const QString& value) {
  if (!m_pending.IsStarted()) {
    throw DatabaseError(QStringLiteral("Dataset not in insert mode"));
  }
  m_pending.Set(RequireColumn(name), value);
}

void ResultSet::Post() {
  if (!m_pending.IsStarted()) {
    return;
  }
  QSqlQuery& insert = m_statements.Run(m_pending.InsertStatement(m_columns));
  const QVariant id = insert.lastInsertId();
  insert.finish();
  m_appended.push_back(m_pending.StoredRow(static_cast<int>(m_columns.size()), ColumnOf(kIdField), id));
  m_pending.Clear();
  emit RowInserted(RecordCount() - 1);
  m_current = RecordCount() - 1;
  emit CurrentRowChanged(m_current);
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
  if (m_open) {
    m_reader.BeforeChange();
  }
  QSqlQuery& update = m_statements.Run(
      {QStringLiteral("update %1 set %2 where F_id = ?").arg(QString::fromLatin1(kTableName), assignments.join(", ")),
       bindings});
  const bool updated = update.numRowsAffected() > 0;
  update.finish();
  if (!updated) {
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

std::optional<QString> ResultSet::StoredFieldById(qint64 id, const QString& name) {
  EnsureColumns();
  QSqlQuery& select = m_statements.Run(
      {QStringLiteral("select %1 from %2 where F_id = ?").arg(m_columns[RequireColumn(name)], QString::fromLatin1(kTableName)),
       {id}});
  std::optional<QString> value;
  if (select.next()) {
    // Null reads as empty text, as every field of the list does.
    value = select.value(0).toString();
  }
  select.finish();
  return value;
}

bool ResultSet::DeleteById(qint64 id) {
  // The row's place, and the list's length, are taken before the row leaves the table.
  int row = -1;
  if (m_open) {
    m_reader.BeforeChange();
    row = RowOfId(id);
  }
  const int listRows = ListRows();
  QSqlQuery& remove =
      m_statements.Run({QStringLiteral("delete from %1 where F_id = ?").arg(QString::fromLatin1(kTableName)), {id}});
  const bool deleted = remove.numRowsAffected() > 0;
  remove.finish();
  if (deleted) {
    emit StoredRowDeleted(id);
  }
  if (row < 0) {
    return deleted;
  }
  if (row >= listRows) {
    m_appended.removeAt(row - listRows);
  } else {
    // The list's later rows move up by one: the pages from this row's on are read again when needed.
    m_pages.ForgetFrom(PageCache::PageOf(row));
    m_reader.Remove(row);
  }
  if (row == m_current) {
    m_current = RecordCount() == 0 ? -1 : std::min(row, RecordCount() - 1);
  } else if (row < m_current) {
    --m_current;
  }
  // The current row is settled first, so a view following the removal already finds the row it must show.
  emit RowRemoved(row);
  emit CurrentRowChanged(m_current);
  return deleted;
}

int ResultSet::HeldRowOfId(qint64 id) const {
  const int column = ColumnOf(kIdField);
  if (column < 0) {
    return -1;
  }
  if (const int held = m_pages.HeldRowWith(column, id); held >= 0) {
    return held;
  }
  for (int i = 0; i < m_appended.size(); ++i) {
    if (m_appended[i][column].toLongLong() == id) {
      return ListRows() + i;
    }
  }
  return -1;
}

Row* ResultSet::HeldRow(int row) {
  const int listRows = ListRows();
  if (row >= listRows) {
    const int appended = row - listRows;
    return appended < m_appended.size() ? &m_appended[appended] : nullptr;
  }
  return m_pages.HeldRow(row);
}

void ResultSet::EnsureColumns() {
  if (!m_columns.isEmpty()) {
    return;
  }
  const QSqlRecord record = m_statements.Database().record(QString::fromLatin1(kTableName));
  for (int i = 0; i < record.count(); ++i) {
    m_columns << record.fieldName(i);
  }
}

}  // namespace store
