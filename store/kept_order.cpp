#include "store/kept_order.h"

#include <QSqlQuery>

#include <algorithm>

namespace store {

KeptOrder::KeptOrder(PreparedStatements& statements) : m_statements(statements) {}

KeptOrder::~KeptOrder() {
  if (!m_table.isEmpty()) {
    // Refused while another statement of the connection is still being read; the table goes with the connection.
    m_statements.TryRun(QStringLiteral("drop table if exists temp.%1").arg(m_table));
  }
}

int KeptOrder::Fill(const Statement& ids) {
  if (m_table.isEmpty()) {
    // Temporary tables belong to the connection, which every result set of the program shares: one name each.
    static int serial = 0;
    const QString table = QStringLiteral("vxt_order_%1").arg(++serial);
    m_statements.Run({QStringLiteral("create temp table %1 (F_id integer)").arg(table), {}}).finish();
    m_table = table;
  }
  // The table is empty here (new, or emptied by Clear), so the ids are numbered from 1 as they arrive.
  QSqlQuery& fill =
      m_statements.Run({QStringLiteral("insert into temp.%1 (F_id) %2").arg(m_table, ids.text), ids.bindings});
  const int rows = fill.numRowsAffected();
  fill.finish();
  m_removed.clear();
  m_filled = true;
  return rows;
}

void KeptOrder::Clear() {
  if (!m_filled) {
    return;
  }
  m_filled = false;
  m_removed.clear();
  if (m_statements.TryRun(QStringLiteral("delete from temp.%1").arg(m_table))) {
    return;
  }
  // Ids left behind would be numbered before the next fill's and shift every row. The next fill takes a table of its
  // own; this one is dropped now if the engine lets it, or goes with the connection.
  m_statements.TryRun(QStringLiteral("drop table if exists temp.%1").arg(m_table));
  m_table.clear();
}

int KeptOrder::NumberOf(int row) const {
  int number = row;
  for (const int removed : m_removed) {
    if (removed > number) {
      break;
    }
    ++number;
  }
  return number;
}

Rows KeptOrder::ReadRows(int first, int count, int columns) {
  const int from = NumberOf(first);
  const int to = NumberOf(first + count - 1);
  // Every id from `from` to `to` is still in the table, so the i-th row read carries the number from + i.
  Rows read = m_statements.RunForRows({QStringLiteral("select t.* from temp.%1 o left join VXT_TM t on t.F_id = o.F_id "
                                                      "where o.rowid between ? and ? order by o.rowid")
                                           .arg(m_table),
                                       {from + 1, to + 1}},
                                      columns);
  Rows rows;
  rows.reserve(count);
  for (int i = 0; i < read.size(); ++i) {
    if (!std::binary_search(m_removed.cbegin(), m_removed.cend(), from + i)) {
      rows.push_back(std::move(read[i]));
    }
  }
  return rows;
}

int KeptOrder::RowOf(qint64 id) {
  QSqlQuery& query =
      m_statements.Run({QStringLiteral("select rowid - 1 from temp.%1 where F_id = ?").arg(m_table), {id}});
  const int number = query.next() ? query.value(0).toInt() : -1;
  query.finish();
  const auto removedBefore = std::lower_bound(m_removed.cbegin(), m_removed.cend(), number);
  if (number < 0 || (removedBefore != m_removed.cend() && *removedBefore == number)) {
    return -1;
  }
  return number - static_cast<int>(removedBefore - m_removed.cbegin());
}

void KeptOrder::Remove(int row) {
  const int number = NumberOf(row);
  m_removed.insert(std::lower_bound(m_removed.begin(), m_removed.end(), number), number);
}

}  // namespace store
