#pragma once

#include <QString>
#include <QVariantList>

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

}  // namespace store
