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
// The rows of an open result are held in memory; posts write through to the database at once.
class ResultSet : public QObject {
  Q_OBJECT

 public:
  explicit ResultSet(QSqlDatabase database, QObject* parent = nullptr);
  ~ResultSet() override;

  void Close();
  void SetStatement(const Statement& statement);
  const Statement& CurrentStatement() const { return m_statement; }
  // Runs the statement; the first row becomes current (none when empty). Throws DatabaseError.
  void Open();
  // Close followed by Open with whatever statement the result set holds now.
  void Refresh();
  bool IsOpen() const { return m_open; }

  int RecordCount() const { return static_cast<int>(m_rows.size()); }
  bool IsEmpty() const { return m_rows.isEmpty(); }
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

  int ColumnOf(const QString& name) const;
  int RequireColumn(const QString& name) const;
  void EnsureColumns();
  // Prepares a statement text once per result set and runs it with the bindings; throws DatabaseError.
  QSqlQuery& Run(const QString& text, const QVariantList& bindings);

  QSqlDatabase m_database;
  Statement m_statement;
  bool m_open = false;
  QStringList m_columns;
  QVector<QVector<QVariant>> m_rows;
  int m_current = -1;
  Mode m_mode = Mode::Browse;
  QMap<int, QString> m_pending;
  QHash<QString, QSqlQuery> m_prepared;
};

}  // namespace store
