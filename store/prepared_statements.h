#pragma once

#include "store/statements.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVector>

namespace store {

// A row of VXT_TM as read, its values in the table's column order.
using Row = QVector<QVariant>;
using Rows = QVector<Row>;

// Runs statements on the catalogue's connection, preparing each text once: the grid reads page after page of one
// statement, and the catalogue update posts the same insert once per record.
class PreparedStatements {
 public:
  explicit PreparedStatements(QSqlDatabase database);

  // The executed query, positioned before its first row; throws DatabaseError when the engine refuses it. Callers
  // finish it once read, so no select holds a read lock on the file between reads.
  QSqlQuery& Run(const Statement& statement);
  // The first column of the first row as a number; 0 when there is no row.
  qint64 RunForNumber(const Statement& statement);
  // The rows a select yields, in its order, each with the first `columns` values.
  Rows RunForRows(const Statement& statement, int columns);
  // For the statements whose failure the caller handles itself: false when the engine refused.
  bool TryRun(const QString& text);
  QSqlDatabase& Database() { return m_database; }

 private:
  QSqlDatabase m_database;
  QHash<QString, QSqlQuery> m_prepared;
};

}  // namespace store
