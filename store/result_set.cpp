#include "store/result_set.h"

#include "store/catalogue.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace store {
namespace {

constexpr const char* kIdField = "F_id";

QString FieldNotFound(const QString& name) { return QStringLiteral("Field '%1' not found").arg(name); }

}  // namespace

ResultSet::ResultSet(QSqlDatabase database, QObject* parent) : QObject(parent), m_database(std::move(database)) {}

ResultSet::~ResultSet() = default;

QSqlQuery& ResultSet::Run(const QString& text, const QVariantList& bindings) {
  // The catalogue update reopens the same statement and posts the same insert once per record: preparing each text
  // once keeps a large import within a fraction of a second.
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

void ResultSet::Close() {
  const bool hadRows = !m_rows.isEmpty();
  m_open = false;
  m_rows.clear();
  m_current = -1;
  m_mode = Mode::Browse;
  m_pending.clear();
  if (hadRows) {
    emit Reopened();
  }
}

void ResultSet::SetStatement(const Statement& statement) { m_statement = statement; }

void ResultSet::Open() {
  Close();
  QSqlQuery& query = Run(ToSqliteDialect(m_statement.text), m_statement.bindings);
  const QSqlRecord record = query.record();
  m_columns.clear();
  for (int i = 0; i < record.count(); ++i) {
    m_columns << record.fieldName(i);
  }
  while (query.next()) {
    QVector<QVariant> row(m_columns.size());
    for (int i = 0; i < row.size(); ++i) {
      row[i] = query.value(i);
    }
    m_rows.push_back(std::move(row));
  }
  // A finished select holds no read lock on the file between opens.
  query.finish();
  m_open = true;
  m_current = m_rows.isEmpty() ? -1 : 0;
  emit Reopened();
  emit CurrentRowChanged(m_current);
}

void ResultSet::Refresh() {
  Close();
  Open();
}

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
  if (row < 0 || row >= RecordCount() || column < 0 || column >= m_columns.size()) {
    return {};
  }
  const QVariant& value = m_rows[row][column];
  return value.isNull() ? QString() : value.toString();
}

qint64 ResultSet::CurrentId() const {
  const int column = ColumnOf(kIdField);
  if (m_current < 0 || column < 0) {
    return -1;
  }
  return m_rows[m_current][column].toLongLong();
}

int ResultSet::RowOfId(qint64 id) const {
  const int column = ColumnOf(kIdField);
  for (int row = 0; column >= 0 && row < RecordCount(); ++row) {
    if (m_rows[row][column].toLongLong() == id) {
      return row;
    }
  }
  return -1;
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
    m_rows.push_back(std::move(row));
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
  const int row = RowOfId(id);
  if (row >= 0) {
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
      m_rows[row][ColumnOf(it.key())] = it.value();
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
  const bool deleted = Run(QStringLiteral("delete from %1 where F_id = ?").arg(kTableName), {id}).numRowsAffected() > 0;
  const int row = RowOfId(id);
  if (row < 0) {
    return deleted;
  }
  m_rows.removeAt(row);
  if (row == m_current) {
    m_mode = Mode::Browse;
    m_pending.clear();
    m_current = m_rows.isEmpty() ? -1 : std::min(row, RecordCount() - 1);
  } else if (row < m_current) {
    --m_current;
  }
  // The current row is settled first, so a view following the removal already finds the row it must show.
  emit RowRemoved(row);
  emit CurrentRowChanged(m_current);
  return deleted;
}

}  // namespace store
