#pragma once

#include "store/list_reader.h"
#include "store/page_cache.h"
#include "store/pending_row.h"
#include "store/prepared_statements.h"
#include "store/statements.h"

#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>

namespace store {

// A list of VXT_TM with a current row, in the terms the windows rely on: close, replace the list, open, row count,
// field by name (case-insensitive, null reads as empty), append and post, update or delete a row by its F_id.
//
// Rows are read on demand, a page at a time (PageCache), in the way that suits the list (ListReader), so an exam of a
// million papers opens as fast and in as little memory as one of ten. Rows appended through this result set after it
// opened follow the list's rows, as they would in a dataset that held everything. Every change writes through to the
// database at once.
//
// While a list is shown its rows keep their places, whatever kind of list it is, until the next Open or Refresh:
// - a row updated stays where it is with its new values, even where they would sort it elsewhere or out of the list
//   (a download turning 下载 into 打开 in a list sorted by F_ZT);
// - a row deleted through the list leaves its place, the rows after it move up by one and the count follows;
// - rows stored after the opening by anyone else (the catalogue update's import) join the list at the next opening.
// Another program writing the shared file meanwhile is outside this: its change shows at the next opening, or where
// a page happens to be read again before it.
class ResultSet : public QObject {
  Q_OBJECT

 public:
  explicit ResultSet(QSqlDatabase database, QObject* parent = nullptr);
  ~ResultSet() override;

  void Close();
  void SetStatement(const ListQuery& list);
  // Reads the list; the first row becomes current (none when empty). Throws DatabaseError.
  void Open();
  // Close followed by Open with whatever list the result set holds now.
  void Refresh();

  int RecordCount() const;

  // -1 when there is no current row.
  int CurrentRow() const { return m_current; }
  void SetCurrentRow(int row);

  // Fields of the current row; an empty result reads every field as empty text. An unknown field throws
  // DatabaseError.
  QString FieldAsText(const QString& name) const;
  QString FieldAsText(int row, const QString& name) const;
  // F_id of the current row, -1 when there is none.
  qint64 CurrentId() const;
  // The row of the list holding this F_id, -1 when none does. Rows held are looked at first; otherwise the database
  // finds the position.
  int RowOfId(qint64 id) const;

  // Starts a new row; Post inserts it, appends it to the list and makes it current.
  void Append();
  void SetField(const QString& name, const QString& value);
  // Writes the pending row. Throws DatabaseError, keeping the pending values, when the database refuses it.
  void Post();

  // Updates the stored row with this F_id, wherever it stands in the list or when it is not in it; the current row
  // stays. False, with nothing changed, when no row has this F_id any more (no values change nothing and count as
  // done). Throws DatabaseError.
  bool UpdateById(qint64 id, const QMap<QString, QString>& values);
  // Deletes the stored row with this F_id. The current row stays the same row unless it is the one deleted; then the
  // row after it (or the new last row) becomes current. False when no row had this F_id.
  bool DeleteById(qint64 id);
  // The stored value of one field of the row with this F_id, read from the database whether or not the list shows the
  // row; nothing when no row has this F_id any more. An unknown field throws DatabaseError.
  std::optional<QString> StoredFieldById(qint64 id, const QString& name);

 signals:
  void Reopened();
  void RowChanged(int row);
  void RowInserted(int row);
  void RowRemoved(int row);
  // A stored row was deleted through this result set, whether or not the list showed it.
  void StoredRowDeleted(qint64 id);
  void CurrentRowChanged(int row);

 private:
  int ColumnOf(const QString& name) const;
  int RequireColumn(const QString& name) const;
  void EnsureColumns();
  // The row, read with its page when that page is not held; nullptr outside the list.
  const Row* RowAt(int row) const;
  // The row when it is held (no read), for writing the values an update stored.
  Row* HeldRow(int row);
  int HeldRowOfId(qint64 id) const;
  // Rows of the list itself, before those appended: 0 while closed.
  int ListRows() const;

  // Declared first, so it outlives the reader, whose kept order drops its table through it at the end.
  PreparedStatements m_statements;
  mutable ListReader m_reader;
  mutable PageCache m_pages;
  ListQuery m_list;
  bool m_open = false;
  QStringList m_columns;
  // Rows posted by Append since the opening, after the list's rows.
  Rows m_appended;
  PendingRow m_pending;
  int m_current = -1;
};

}  // namespace store
