#pragma once

#include "store/prepared_statements.h"
#include "store/statements.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace store {

// The values of a row being appended, from Append to its post.
class PendingRow {
 public:
  void Start();
  void Clear();
  bool IsStarted() const { return m_started; }
  void Set(int column, const QString& value);

  // The insert that stores the row; columns never set are left to the table.
  Statement InsertStatement(const QStringList& columns) const;
  // The row as stored, with the F_id the database gave it.
  Row StoredRow(int columns, int idColumn, const QVariant& id) const;

 private:
  bool m_started = false;
  QMap<int, QString> m_values;
};

}  // namespace store
