// The catalogue update's import, measured on a large catalogue: the answer of the update page goes through the
// window's own import (split, field extraction, GBK decoding, appends, summary, main list refresh).
//
//   import_bench prepare DIR RECORDS BASE_ROWS   writes DIR/base.mdb (the catalogue, BASE_ROWS rows),
//                                                DIR/answer.txt (RECORDS records, GBK) and DIR/insert.sql (the same
//                                                rows as one sqlite3 transaction, for the command-line tool)
//   import_bench import DB ANSWER EXPECTED_ROWS  imports ANSWER into DB; prints "<seconds> <rows appended>"
//
// bench/import drives both and times the sqlite3 tool beside it.

#include "exchange/catalogue_update_window.h"
#include "ui/gbk_text.h"
#include "store/catalogue.h"
#include "store/result_set.h"
#include "ui/seams.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr const char* kConnection = "import_bench";
constexpr const char* kSummaryPrefix = "系统已升级完成，共下载";

// The bench must not stop at a modal dialog; it keeps the summary to check the count.
class QuietDialogs : public ui::Dialogs {
 public:
  void ShowMessage(const QString& text) override { last = text; }
  void ShowError(const QString& text) override { last = text; }
  bool Confirm(const QString&) override { return true; }
  bool Ask(const QString&) override { return false; }

  QString last;
};

// Texts of the length and kind the content server sends.
QString Title(long long n) { return QStringLiteral("2019年国家公务员考试《行政职业能力测验》真题第%1套").arg(n); }
QString Exam(long long n) { return n % 2 ? QStringLiteral("公务员考试") : QStringLiteral("会计从业资格考试"); }
QString Subject(long long n) { return QStringLiteral("科目%1").arg(n % 7); }
QString Category(long long n) { return n % 3 ? QStringLiteral("真题") : QStringLiteral("模拟题"); }
QString Description(long long n) { return QStringLiteral("含答案及解析，共%1页").arg(n % 40 + 10); }

void Exec(QSqlQuery& query, const QString& statement) {
  if (!query.exec(statement)) {
    throw std::runtime_error(query.lastError().text().toStdString());
  }
}

std::string SqlText(const QString& value) {
  QString quoted = value;
  quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
  std::string text(1, '\'');
  text += quoted.toStdString();
  text += '\'';
  return text;
}

int Prepare(const QString& dir, long long records, long long baseRows) {
  {
    QSqlDatabase db = store::OpenCatalogue(dir + QStringLiteral("/base.mdb"), kConnection);
    QSqlQuery query(db);
    // The existing rows hold server numbers 1..baseRows; the new records continue above them.
    Exec(query, QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                               "insert into VXT_TM (F_bh, F_SJMC, F_KM, F_ZFL1, F_LB, F_MS, F_ZT) "
                               "select i, '旧试卷' || i, case i % 2 when 1 then '公务员考试' else '会计从业资格考试' "
                               "end, '科目' || (i % 7), '真题', '说明', '下载' from n")
                    .arg(baseRows));
    db.close();
  }
  QSqlDatabase::removeDatabase(kConnection);

  std::ofstream answer((dir + QStringLiteral("/answer.txt")).toStdString(), std::ios::binary);
  std::ofstream sql((dir + QStringLiteral("/insert.sql")).toStdString(), std::ios::binary);
  sql << "begin;\n";
  for (long long i = 1; i <= records; ++i) {
    const long long n = baseRows + i;
    answer << "<tr>\r\n<F_id>" << n << "</F_id><F_SJMC>" << ui::EncodeGbk(Title(n)) << "</F_SJMC><F_KM>"
           << ui::EncodeGbk(Exam(n)) << "</F_KM><F_ZFL1>" << ui::EncodeGbk(Subject(n))
           << "</F_ZFL1><F_LB>" << ui::EncodeGbk(Category(n)) << "</F_LB><F_MS>"
           << ui::EncodeGbk(Description(n)) << "</F_MS>\r\n";
    sql << "insert into VXT_TM (F_bh, F_SJMC, F_KM, F_ZFL1, F_LB, F_MS, F_ZT) values (" << n << ", "
        << SqlText(Title(n)) << ", " << SqlText(Exam(n)) << ", " << SqlText(Subject(n)) << ", "
        << SqlText(Category(n)) << ", " << SqlText(Description(n)) << ", '下载');\n";
  }
  sql << "commit;\n";
  return answer && sql ? 0 : 1;
}

int Import(const QString& dbPath, const QString& answerPath, long long expectedRows) {
  QFile file(answerPath);
  if (!file.open(QIODevice::ReadOnly)) {
    std::cerr << "cannot read " << answerPath.toStdString() << "\n";
    return 1;
  }
  const QByteArray bytes = file.readAll();

  QuietDialogs dialogs;
  ui::SetDialogs(&dialogs);
  double seconds = 0;
  {
    QSqlDatabase db = store::OpenCatalogue(dbPath, kConnection);
    store::ResultSet mainList(db);
    mainList.SetStatement(store::DefaultListStatement());
    mainList.Open();
    QWidget mainWindow;
    exchange::CatalogueUpdateWindow catalogueUpdate(db, &mainList, &mainWindow);
    catalogueUpdate.SetAnswerBuffer(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));

    QElapsedTimer timer;
    timer.start();
    catalogueUpdate.ImportAnswer();
    seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    db.close();
  }
  QSqlDatabase::removeDatabase(kConnection);
  ui::SetDialogs(nullptr);

  const QString expected = QString::fromUtf8(kSummaryPrefix) + QString::number(expectedRows);
  if (!dialogs.last.startsWith(expected)) {
    std::cerr << "unexpected outcome: " << dialogs.last.toStdString() << "\n";
    return 1;
  }
  std::printf("%.4f %lld\n", seconds, expectedRows);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  try {
    if (args.size() == 5 && args[1] == QLatin1String("prepare")) {
      return Prepare(args[2], args[3].toLongLong(), args[4].toLongLong());
    }
    if (args.size() == 5 && args[1] == QLatin1String("import")) {
      return Import(args[2], args[3], args[4].toLongLong());
    }
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  std::cerr << "usage: import_bench prepare DIR RECORDS BASE_ROWS | import DB ANSWER EXPECTED_ROWS\n";
  return 2;
}
