#pragma once

#include "store/prepared_statements.h"

#include <QString>
#include <QVector>

namespace store {

// The ids of a list in its order, kept in a temporary table for a list that keeps its order (see KeepsOrder): a page
// anywhere in it costs one look-up per row instead of the whole sort or scan again, and its rows stay in their places
// while their values change. The ids are numbered from 0 in the list's order; rows deleted through the list are
// skipped in that numbering.
class KeptOrder {
 public:
  explicit KeptOrder(PreparedStatements& statements);
  ~KeptOrder();
  KeptOrder(const KeptOrder&) = delete;
  KeptOrder& operator=(const KeptOrder&) = delete;

  bool IsFilled() const { return m_filled; }
  // Takes the ids the statement yields, in its order, and returns how many there are. Throws DatabaseError.
  int Fill(const Statement& ids);
  // Lets go of the ids. Never fails: a table the engine will not empty is set aside for a fresh one.
  void Clear();

  // The list's rows from `first` on, at most `count`, with the table's first `columns` values. A row another program
  // deleted meanwhile reads as empty in its place.
  Rows ReadRows(int first, int count, int columns);
  // The row of the list holding this F_id; -1 when none does.
  int RowOf(qint64 id);
  // The row was deleted through the list: the rows after it move up by one.
  void Remove(int row);

 private:
  // The number of the id shown in this row.
  int NumberOf(int row) const;

  PreparedStatements& m_statements;
  // Named when first needed, and again after a clean-up the engine refused.
  QString m_table;
  bool m_filled = false;
  // Numbers of the ids whose rows were deleted through the list, ascending.
  QVector<int> m_removed;
};

}  // namespace store
