#include "store/catalogue.h"

#include "store/statements.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace store {
namespace {

// F_bh is text: the server's number travels back to it byte for byte ("0012" stays "0012"), and the high-water mark
// compares whole numbers by their digits, not by the column's order. AUTOINCREMENT keeps F_id growing with insertion
// order and never hands out the number of a deleted row again.
constexpr const char* kCreateTable =
    "create table VXT_TM ("
    "F_id integer primary key autoincrement, "
    "F_bh text, F_SJMC text, F_KM text, F_ZFL1 text, F_LB text, F_MS text, "
    "F_ZT text, F_BZ text, F_GXSJ text, F_BDWJ text)";
// A rollback journal, deleted at each commit, keeps the whole catalogue in the one file users copy and back up (a
// write-ahead log would keep recent rows in a file beside it until a checkpoint, and the program ends without
// closing the connection). FULL synchronous puts each commit on the disk before the post returns, so a killed process
// or a power cut leaves either the whole import or none of it. The import is one transaction, so the syncs cost it
// next to nothing. Set on every open: a file another tool switched to a log is put back.
constexpr const char* kDurabilityPragmas[] = {
    "pragma journal_mode = delete",
    "pragma synchronous = full",
};
constexpr const char* kCreateIndexes[] = {
    "create index VXT_TM_F_bh on VXT_TM (F_bh)",
    "create index VXT_TM_F_KM on VXT_TM (F_KM)",
};

// The columns of kCatalogueColumns the table lacks, compared without regard to case as every field access is.
QStringList MissingColumns(const QSqlDatabase& db) {
  const QSqlRecord record = db.record(QString::fromLatin1(kTableName));
  QStringList missing;
  for (const char* column : kCatalogueColumns) {
    if (record.indexOf(QString::fromLatin1(column)) < 0) {
      missing << QString::fromLatin1(column);
    }
  }
  return missing;
}

void Exec(QSqlDatabase& db, const QString& text) {
  QSqlQuery query(db);
  if (!query.exec(text)) {
    throw DatabaseError(query.lastError().text());
  }
}

void ApplyDurability(QSqlDatabase& db) {
  for (const char* pragma : kDurabilityPragmas) {
    Exec(db, pragma);
  }
}

// Only reads: a refused file is left exactly as it was (switching its journal back would write to it).
void CheckCatalogue(QSqlDatabase& db, const QString& path) {
  // SQLite opens any file lazily; reading the schema is what reveals a file that is not a database.
  QSqlQuery probe(db);
  if (!probe.exec(QStringLiteral("select count(*) from sqlite_master where type = 'table' and name = 'VXT_TM'"))) {
    throw DatabaseError(probe.lastError().text());
  }
  if (!probe.next() || probe.value(0).toInt() == 0) {
    throw DatabaseError(QStringLiteral("The table VXT_TM does not exist in %1").arg(path));
  }
  if (const QStringList missing = MissingColumns(db); !missing.isEmpty()) {
    throw DatabaseError(
        QStringLiteral("The table VXT_TM in %1 lacks the column %2").arg(path, missing.join(QStringLiteral(", "))));
  }
  // The probe goes with this function, before the journal is switched: SQLite leaves a write-ahead log only outside
  // any statement.
}

}  // namespace

DatabaseError::DatabaseError(const QString& message) : platform::UserTextError(message.toStdString()) {}

QString DatabaseError::Message() const { return QString::fromStdString(what()); }

QSqlDatabase OpenCatalogue(const QString& path, const QString& connectionName) {
  const QFileInfo file(path);
  const bool existed = file.exists();
  if (!existed && !QDir().mkpath(file.absolutePath())) {
    throw DatabaseError(QStringLiteral("Cannot create the folder %1").arg(file.absolutePath()));
  }

  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
  db.setDatabaseName(file.absoluteFilePath());
  try {
    if (!db.open()) {
      throw DatabaseError(db.lastError().text());
    }
    if (existed) {
      CheckCatalogue(db, path);
    } else {
      Exec(db, kCreateTable);
      for (const char* index : kCreateIndexes) {
        Exec(db, index);
      }
    }
    ApplyDurability(db);
  } catch (...) {
    // A refused file is let go at once: on Windows an open file can be neither replaced nor deleted.
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
    throw;
  }
  return db;
}

}  // namespace store
