#include "store/pending_row.h"

namespace store {

void PendingRow::Start() {
  m_values.clear();
  m_started = true;
}

void PendingRow::Clear() {
  m_values.clear();
  m_started = false;
}

void PendingRow::Set(int column, const QString& value) { m_values[column] = value; }

Statement PendingRow::InsertStatement(const QStringList& columns) const {
  const QString table = QString::fromLatin1(kTableName);
  if (m_values.isEmpty()) {
    return {QStringLiteral("insert into %1 default values").arg(table), {}};
  }
  QStringList names;
  QStringList marks;
  QVariantList values;
  for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
    names << columns[it.key()];
    marks << QStringLiteral("?");
    values << it.value();
  }
  return {QStringLiteral("insert into %1 (%2) values (%3)").arg(table, names.join(','), marks.join(',')), values};
}

Row PendingRow::StoredRow(int columns, int idColumn, const QVariant& id) const {
  Row row(columns);
  for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
    row[it.key()] = it.value();
  }
  if (idColumn >= 0) {
    row[idColumn] = id;
  }
  return row;
}

}  // namespace store
