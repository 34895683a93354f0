#pragma once

#include <QString>
#include <QVariantList>
#include <Qt>

// The lists every window opens on the catalogue, described by what they show rather than by statement text, and the
// statements a result set reads them with, all built here from the description.
namespace store {

inline constexpr const char* kTableName = "VXT_TM";

// The status words of F_ZT, compared and written by every window exactly as they stand.
inline constexpr const char* kStatusToDownload = "下载";  // listed; a double-click downloads it
inline constexpr const char* kStatusOpen = "打开";        // downloaded; a double-click opens the file
inline constexpr const char* kStatusNoFile = "暂无资源";  // the server has no file for this paper

// A statement text with the values bound to its placeholders.
struct Statement {
  QString text;
  QVariantList bindings;
};

// What a list of the catalogue shows. Values the user typed (an exam, a search text) are bound, never spliced in.
struct ListQuery {
  enum class Rows {
    All,
    Exam,         // papers of `exam`
    TitleSearch,  // papers whose title contains `text` (every character matching itself), of `exam` unless empty
    // Rows whose F_bh is a whole decimal number (digits only). A number the server garbled ("abc", "-5", "3.5",
    // empty) never becomes the high-water mark, or every later update would ask from it for good.
    WholeServerNumbers,
  };
  enum class Order {
    Newest,  // F_id descending: insertion order, newest first
    // The highest server number first, compared as numbers of any length: more significant digits first, then digit
    // by digit. Catalogues whose F_bh column is numeric hold their numbers as integers, which read as digits too.
    HighestServerNumber,
  };

  Rows rows = Rows::All;
  QString exam;
  QString text;
  Order order = Order::Newest;
  // Only the first `limit` rows in `order`; 0 for all of them.
  int limit = 0;
  // A column the user sorted by: the same rows (the limit still picks them by `order`) in this column's order, ties
  // newest first. Empty for `order` itself.
  QString sortColumn;
  Qt::SortOrder sortOrder = Qt::AscendingOrder;
};

// The 100 most recently inserted rows, newest first: the main list before any exam is chosen.
ListQuery DefaultListStatement();
// Papers of one exam, newest first, no limit.
ListQuery ExamFilterStatement(const QString& examName);
// The one row holding the highest server paper number: where the next catalogue update asks from.
ListQuery HighWaterMarkStatement();
// Opened only so that new rows can be appended through it.
ListQuery AppendTargetStatement();
// Papers whose title contains the text, newest first: of the whole catalogue when the exam is empty, of that exam
// otherwise. An empty text gives back the list without a search: the default list, or the exam filter.
ListQuery SearchStatement(const QString& examName, const QString& text);
// The same rows ordered by one column of the table (any case), ties newest first. An unknown column leaves the list
// as it was.
ListQuery SortedStatement(const ListQuery& list, const QString& column, Qt::SortOrder order);

// Whether a list keeps its order as ids while it is shown: exactly when no index walk yields its rows in order. A
// sort by a column other than F_id makes the engine sort the whole list again for every page, and a search reads
// every title it passes, so a page far down would cost the whole list each time; lists in F_id order walk the table
// or the exam's index and reach any page by counting along it.
bool KeepsOrder(const ListQuery& list);

// The statements a list is read with. `ceiling` is the highest F_id when the list was opened: rows inserted after
// that belong to the list from its next opening on, so its rows and the count stay as they were meanwhile.
Statement CountStatement(const ListQuery& list, qint64 ceiling);
// Rows of the list from an offset on; two more placeholders, the row count and the offset. Reversed, the offset and
// the rows count from the list's end, so its last rows are read first and cheaply.
Statement PageStatement(const ListQuery& list, qint64 ceiling, bool reversed);
// The ids of the list's rows in its order.
Statement IdStatement(const ListQuery& list, qint64 ceiling);
// For a list that does not keep its order: how many of its rows, in newest-first order, come no later than the row
// with this F_id (the count), and whether that row is one of them (1 or 0).
Statement NewestRankStatement(const ListQuery& list, qint64 ceiling, qint64 id);
// Whether a list that does not keep its order shows its rows newest first (otherwise oldest first).
bool ShowsNewestFirst(const ListQuery& list);
// The highest F_id stored now: the ceiling of a list opened now.
Statement CeilingStatement();

}  // namespace store
