#pragma once

#include "store/kept_order.h"
#include "store/prepared_statements.h"
#include "store/statements.h"

namespace store {

// How the rows of one opened list are read from the database. A list in F_id order is read by offset from its nearer
// end (an offset costs a walk over the index entries it skips, so the far half is read from the other end). A list
// that keeps its order (see KeepsOrder) is read the same way near its ends, where the engine needs only the first
// rows of its sort; anywhere else, and before any change through the list, it takes its order as ids once (the
// whole sort or scan, one time) and reads every later page from there.
class ListReader {
 public:
  explicit ListReader(PreparedStatements& statements);

  // Fixes the list's rows to those stored now and reads its first page. Throws DatabaseError, as every read does.
  Rows Open(const ListQuery& list, int columns);
  void Close();

  // Rows the list holds: counted in the database when first needed.
  int RowCount();
  Rows ReadPage(int page);
  // The row holding this F_id; -1 when none does.
  int RowOf(qint64 id);
  // Called before the list's rows change through it, so that they keep their places from here on.
  void BeforeChange();
  // The row was deleted through the list: the rows after it move up by one.
  void Remove(int row);

 private:
  Rows ReadByOffset(int first, int count, bool fromTheEnd);
  // Takes the list's order as ids, once per opening.
  void KeepOrder();

  PreparedStatements& m_statements;
  KeptOrder m_keptOrder;
  ListQuery m_list;
  qint64 m_ceiling = 0;
  int m_columns = 0;
  // -1 until counted.
  int m_rows = -1;
};

}  // namespace store
