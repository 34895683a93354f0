#pragma once

#include <QString>
#include <QVariantList>
#include <Qt>

// The fixed statements every window runs against the catalogue. Their texts are written in the dialect the program
// has always used (row limits as "top N"); ToSqliteDialect translates them for the engine in one place.
namespace store {

inline constexpr const char* kTableName = "VXT_TM";

// The status words of F_ZT, compared and written by every window exactly as they stand.
inline constexpr const char* kStatusToDownload = "下载";  // listed; a double-click downloads it
inline constexpr const char* kStatusOpen = "打开";        // downloaded; a double-click opens the file
inline constexpr const char* kStatusNoFile = "暂无资源";  // the server has no file for this paper

// The 100 most recently inserted rows, newest first (the doubled blank is part of the historic text).
inline constexpr const char* kDefaultListStatement = "select top 100 * from VXT_TM  order by f_id desc";
// Papers of one exam, newest first, no limit. The exam name is bound to the placeholder, never spliced in.
inline constexpr const char* kExamFilterStatement = "select * from VXT_TM where F_KM =? order by f_id desc";
// The row holding the highest server paper number among those that are whole decimal numbers (digits only), compared
// as numbers of any length: more significant digits first, then digit by digit. A number the server garbled ("abc",
// "-5", "3.5", empty) never becomes the mark, or every later update would ask from it for good. Catalogues whose F_bh
// column is numeric hold their numbers as integers, which read as their digits here too.
inline constexpr const char* kHighWaterMarkStatement =
    "select top 1 * from VXT_TM where F_bh glob '[0-9]*' and F_bh not glob '*[^0-9]*' "
    "order by length(ltrim(F_bh, '0')) desc, ltrim(F_bh, '0') desc, f_id desc";
// Opened only so that new rows can be appended through it.
inline constexpr const char* kAppendTargetStatement = "select top 1 * from VXT_TM";

// A statement text with the values bound to its placeholders.
struct Statement {
  QString text;
  QVariantList bindings;
};

Statement DefaultListStatement();
Statement ExamFilterStatement(const QString& examName);
Statement HighWaterMarkStatement();
Statement AppendTargetStatement();

// "select top N <rest>" becomes "select <rest> limit N"; any other text is returned unchanged.
QString ToSqliteDialect(const QString& statement);

// Papers whose title (F_SJMC) contains the text, newest first: of the whole catalogue when the exam is empty, of that
// exam otherwise. Both are bound, and every character of the text matches itself ("%" and "_" included, letters with
// their case). An empty text gives back the list without a search: the default list, or the exam filter.
Statement SearchStatement(const QString& examName, const QString& text);

// The same rows ordered by one column (ties newest first), in the database. A statement without a row limit gets its
// order replaced; one with a limit is sorted as the rows it yields, so the newest 100 stay the newest 100.
Statement SortedStatement(const Statement& statement, const QString& column, Qt::SortOrder order);

// The texts the result set derives from a statement's text (already in SQLite's dialect) to read it a page at a time:
// a page (two more placeholders: the row count and the offset), the row count, and the ids in the statement's order.
QString PageStatementText(const QString& sqliteText);
QString CountStatementText(const QString& sqliteText);
QString IdStatementText(const QString& sqliteText);
// The same rows in exactly the opposite order, so the end of a long list is read from its own first rows; empty when
// the order cannot be turned round exactly (a row limit, or an order that does not end on F_id).
QString ReversedStatementText(const QString& sqliteText);

}  // namespace store
