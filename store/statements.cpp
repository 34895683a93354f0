#include "store/statements.h"

#include <QRegularExpression>

namespace store {

Statement DefaultListStatement() { return {kDefaultListStatement, {}}; }

Statement ExamFilterStatement(const QString& examName) { return {kExamFilterStatement, {examName}}; }

Statement HighWaterMarkStatement() { return {kHighWaterMarkStatement, {}}; }

Statement AppendTargetStatement() { return {kAppendTargetStatement, {}}; }

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
