#pragma once

#include "store/prepared_statements.h"

#include <QHash>

namespace store {

// The rows of a list read so far, a page at a time, of which only the most recently used few are held: scrolling
// through an exam of a million papers keeps memory flat.
class PageCache {
 public:
  using Page = Rows;

  // Rows read in one go: a few screens of the grid.
  static constexpr int kPageRows = 256;
  static constexpr int kPagesHeld = 16;

  static int PageOf(int row) { return row / kPageRows; }
  static int FirstRowOf(int page) { return page * kPageRows; }

  // The page when held, made the most recently used; nullptr otherwise.
  const Page* Find(int page);
  // Holds a page just read, letting go of the least recently used one when all places are taken.
  const Page& Insert(int page, Page rows);
  // The row when its page is held, without making that page more recent; nullptr otherwise.
  Row* HeldRow(int row);
  // The row among those held whose value in `column` is `value`; -1 when none is.
  int HeldRowWith(int column, qint64 value) const;
  // Pages from this one on are read again when next needed.
  void ForgetFrom(int page);
  void Clear();

 private:
  QHash<int, Page> m_pages;
  // Page numbers in the order they were last used, the most recent last.
  QVector<int> m_use;
};

}  // namespace store
