#include "store/prepared_statements.h"

#include "store/catalogue.h"

#include <QSqlError>

#include <utility>

namespace store {

PreparedStatements::PreparedStatements(QSqlDatabase database) : m_database(std::move(database)) {}

QSqlQuery& PreparedStatements::Run(const Statement& statement) {
  auto it = m_prepared.find(statement.text);
  if (it == m_prepared.end()) {
    QSqlQuery query(m_database);
    query.setForwardOnly(true);
    if (!query.prepare(statement.text)) {
      throw DatabaseError(query.lastError().text());
    }
    it = m_prepared.insert(statement.text, std::move(query));
  }
  QSqlQuery& query = it.value();
  for (int i = 0; i < statement.bindings.size(); ++i) {
    query.bindValue(i, statement.bindings[i]);
  }
  if (!query.exec()) {
    const QString message = query.lastError().text();
    query.finish();
    throw DatabaseError(message);
  }
  return query;
}

qint64 PreparedStatements::RunForNumber(const Statement& statement) {
  QSqlQuery& query = Run(statement);
  const qint64 number = query.next() ? query.value(0).toLongLong() : 0;
  query.finish();
  return number;
}

Rows PreparedStatements::RunForRows(const Statement& statement, int columns) {
  QSqlQuery& query = Run(statement);
  Rows rows;
  while (query.next()) {
    Row row(columns);
    for (int i = 0; i < columns; ++i) {
      row[i] = query.value(i);
    }
    rows.push_back(std::move(row));
  }
  query.finish();
  return rows;
}

bool PreparedStatements::TryRun(const QString& text) { return QSqlQuery(m_database).exec(text); }

}  // namespace store
