#pragma once

#include "store/statements.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace store {

// A result set over VXT_TM with a current row, in the terms the windows rely on: close, replace the statement, open,
// row count, field of the current row by name (case-insensitive, null reads as empty), append/edit/post, delete.
// Rows are read from the database on demand, a page at a time around the rows asked for, and only a few pages are
// held, so an exam of a million papers opens as fast and in as little memory as one of ten. The row count comes from
// the database. Rows appended through this result set after it opened follow the statement's rows, as they would in
// a dataset that held everything. Posts write through to the database at once.
class ResultSet : public QObject {
  Q_OBJECT

 public:
  explicit ResultSet(QSqlDatabase database, QObject* parent = nullptr);
  ~ResultSet() override;

  // How long a page in the middle of a list may take to read before the list keeps its order in a temporary table;
  // tests set 0 to read every list that way, a negative value restores the default.
  static void SetSlowPageMs(qint64 ms);

  void Close();
  void SetStatement(const Statement& statement);
  const Statement& CurrentStatement() const { return m_statement; }
  // Runs the statement; the first row becomes current (none when empty). Throws DatabaseError.
  void Open();
  // Close followed by Open with whatever statement the result set holds now.
  void Refresh();
  bool IsOpen() const { return m_open; }

  int RecordCount() const;
  bool IsEmpty() const { return RecordCount() == 0; }
  const QStringList& FieldNames() const { return m_columns; }

  // -1 when there is no current row.
  int CurrentRow() const { return m_current; }
  void SetCurrentRow(int row);

  // Fields of the current row; an empty result reads every field as empty text.
  QString FieldAsText(const QString& name) const;
  QString FieldAsText(int row, const QString& name) const;
  QString FieldAsText(int row, int column) const;
  // F_id of the current row, -1 when there is none.
  qint64 CurrentId() const;
  // The row of the result holding this F_id, -1 when none does. Rows held are looked at first; otherwise the
  // database finds the position.
  int RowOfId(qint64 id) const;

  // Starts a new row; Post inserts it, appends it to the rows held and makes it current.
  void Append();
  // Edits the current row; on an empty result this starts a new row instead, so the post inserts.
  void Edit();
  void SetField(const QString& name, const QString& value);
  // Writes the pending row. Throws DatabaseError and stays in edit mode when the database refuses it.
  void Post();
  void Cancel();
  bool IsEditing() const { return m_mode != Mode::Browse; }

  // Updates the stored row with this F_id, whether or not it is among the rows held or current; the rows held and the
  // current row are left where they are. False, with nothing changed, when no row has this F_id any more (no values
  // change nothing and count as done). Throws DatabaseError.
  bool UpdateById(qint64 id, const QMap<QString, QString>& values);

  // Deletes the current row from the table; the row after it (or the new last row) becomes current.
  void Delete();
  // Deletes the stored row with this F_id, wherever it stands among the rows held, or when it is not held at all. The
  // current row stays the same row unless it is the one deleted (then as Delete). False when no row had this F_id.
  bool DeleteById(qint64 id);

 signals:
  void Reopened();
  void RowChanged(int row);
  void RowInserted(int row);
  void RowRemoved(int row);
  void CurrentRowChanged(int row);

 private:
  enum class Mode { Browse, Editing, Inserting };
  using Row = QVector<QVariant>;

  int ColumnOf(const QString& name) const;
  int RequireColumn(const QString& name) const;
  void EnsureColumns();
  // Prepares a statement text once per result set and runs it with the bindings; throws DatabaseError.
  QSqlQuery& Run(const QString& text, const QVariantList& bindings) const;
  // Rows of a statement text (the result's own, or its reverse) from `first` on, at most `count`.
  QVector<Row> ReadRows(const QString& sqliteText, int first, int count) const;
  QVector<Row> ReadPage(int page) const;
  // The rows of an executed select, in its order; the columns are taken from the first one read.
  QVector<Row> TakeRows(QSqlQuery& query) const;
  // Keeps the statement's order as ids in a temporary table; false when the engine refused.
  bool KeepOrder() const;
  void DropOrder() const;
  // The row, read with its page when that page is not held; nullptr outside the result.
  const Row* RowAt(int row) const;
  // The row when it is held (no read), for writing the values a post stored.
  Row* HeldRow(int row);
  int HeldRowOfId(qint64 id) const;
  // Rows the statement yields: 0 while closed; counted in the database when first needed.
  int StatementRows() const;
  int StatementRowCount() const;
  void ForgetPages();

  QSqlDatabase m_database;
  Statement m_statement;
  QString m_sqliteText;
  bool m_open = false;
  mutable QStringList m_columns;
  // Pages of the statement's rows by page number, and the order they were last used in (most recent last).
  mutable QHash<int, QVector<Row>> m_pages;
  mutable QVector<int> m_pageUse;
  // -1 until asked for.
  mutable int m_statementRows = -1;
  // The temporary table that holds the statement's ids in its order once reading by offset proved slow (named when
  // first needed), and whether it holds them now.
  mutable QString m_orderTable;
  mutable bool m_orderKept = false;
  // How long the first page took to read at the open.
  qint64 m_firstPageMs = 0;
  // Rows posted by Append since the open, after the statement's rows.
  QVector<Row> m_appended;
  int m_current = -1;
  Mode m_mode = Mode::Browse;
  QMap<int, QString> m_pending;
  mutable QHash<QString, QSqlQuery> m_prepared;
};

}  // namespace store
