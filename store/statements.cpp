#include "store/statements.h"

#include <QRegularExpression>

namespace store {
namespace {

// instr matches the text as it stands: no character of it is a wildcard, so nothing needs escaping. The exam is
// compared without its index ("+"): reading every row once costs less than looking up most rows of a big exam one
// by one, and a search reads every title anyway.
constexpr const char* kSearchAll = "select * from VXT_TM where instr(F_SJMC, ?) > 0 order by f_id desc";
constexpr const char* kSearchExam =
    "select * from VXT_TM where +F_KM = ? and instr(F_SJMC, ?) > 0 order by f_id desc";
// Columns a list may be ordered by: those of the table, whatever their case in the caller.
constexpr const char* kSortableColumns[] = {"F_id", "F_bh", "F_SJMC", "F_KM",   "F_ZFL1", "F_LB",
                                            "F_MS", "F_ZT", "F_BZ",   "F_GXSJ", "F_BDWJ"};
// F_bh holds the server's number as text; it sorts as a number.
constexpr const char* kNumericTextColumn = "F_bh";

// A trailing "order by ..." with no row limit after it: it changes the order of the rows, never which rows.
const QRegularExpression& TrailingOrder() {
  static const QRegularExpression order(QStringLiteral(R"(^(.*\S)\s+order\s+by\s+(?:(?!\blimit\b)[^()'?])*$)"),
                                        QRegularExpression::CaseInsensitiveOption |
                                            QRegularExpression::DotMatchesEverythingOption);
  return order;
}

}  // namespace

Statement DefaultListStatement() { return {kDefaultListStatement, {}}; }

Statement ExamFilterStatement(const QString& examName) { return {kExamFilterStatement, {examName}}; }

Statement HighWaterMarkStatement() { return {kHighWaterMarkStatement, {}}; }

Statement AppendTargetStatement() { return {kAppendTargetStatement, {}}; }

Statement SearchStatement(const QString& examName, const QString& text) {
  if (text.isEmpty()) {
    return examName.isEmpty() ? DefaultListStatement() : ExamFilterStatement(examName);
  }
  if (examName.isEmpty()) {
    return {QString::fromLatin1(kSearchAll), {text}};
  }
  return {QString::fromLatin1(kSearchExam), {examName, text}};
}

Statement SortedStatement(const Statement& statement, const QString& column, Qt::SortOrder order) {
  QString name;
  for (const char* known : kSortableColumns) {
    if (column.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) {
      name = QString::fromLatin1(known);
    }
  }
  if (name.isEmpty()) {
    return statement;
  }
  const QString key =
      name == QLatin1String(kNumericTextColumn) ? QStringLiteral("cast(%1 as integer)").arg(name) : name;
  const QString direction = order == Qt::AscendingOrder ? QStringLiteral("asc") : QStringLiteral("desc");
  const QString orderBy = QStringLiteral(" order by %1 %2, F_id desc").arg(key, direction);
  const QString text = ToSqliteDialect(statement.text);
  const QRegularExpressionMatch match = TrailingOrder().match(text);
  if (match.hasMatch()) {
    return {match.captured(1) + orderBy, statement.bindings};
  }
  return {QStringLiteral("select * from (%1)").arg(text) + orderBy, statement.bindings};
}

QString PageStatementText(const QString& sqliteText) {
  return QStringLiteral("select * from (%1) limit ? offset ?").arg(sqliteText);
}

QString CountStatementText(const QString& sqliteText) {
  // Without its order the count of an exam comes from the exam's index alone, several times faster.
  const QRegularExpressionMatch match = TrailingOrder().match(sqliteText);
  return QStringLiteral("select count(*) from (%1)").arg(match.hasMatch() ? match.captured(1) : sqliteText);
}

QString ReversedStatementText(const QString& sqliteText) {
  const QRegularExpressionMatch match = TrailingOrder().match(sqliteText);
  if (!match.hasMatch()) {
    return {};
  }
  static const QRegularExpression orderBy(QStringLiteral(R"(\s+order\s+by\s+)"),
                                          QRegularExpression::CaseInsensitiveOption);
  const QString tail = sqliteText.mid(match.capturedEnd(1));
  const QString terms = tail.mid(orderBy.match(tail).capturedEnd());
  QStringList reversed;
  for (QString term : terms.split(QLatin1Char(','))) {
    term = term.trimmed();
    const QStringList words = term.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
      return {};
    }
    const bool descending = words.last().compare(QLatin1String("desc"), Qt::CaseInsensitive) == 0;
    const bool ascending = words.last().compare(QLatin1String("asc"), Qt::CaseInsensitive) == 0;
    const QString key = descending || ascending ? words.mid(0, words.size() - 1).join(QLatin1Char(' ')) : term;
    reversed << key + (descending ? QStringLiteral(" asc") : QStringLiteral(" desc"));
  }
  // Only an order that ends on the row's unique number has a mirror image: ties would come out in any order.
  if (!reversed.last().startsWith(QLatin1String("F_id "), Qt::CaseInsensitive)) {
    return {};
  }
  return match.captured(1) + QStringLiteral(" order by ") + reversed.join(QStringLiteral(", "));
}

QString IdStatementText(const QString& sqliteText) { return QStringLiteral("select F_id from (%1)").arg(sqliteText); }

QString ToSqliteDialect(const QString& statement) {
  static const QRegularExpression top(QStringLiteral(R"(^\s*select\s+top\s+(\d+)\s+(.*)$)"),
                                      QRegularExpression::CaseInsensitiveOption |
                                          QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpressionMatch match = top.match(statement);
  if (!match.hasMatch()) {
    return statement;
  }
  return QStringLiteral("select %1 limit %2").arg(match.captured(2).trimmed(), match.captured(1));
}

}  // namespace store
