#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTableView>
#include <QVector>

namespace store {
class ResultSet;
}

namespace ui {

// One grid column bound to a field of the result set. A width of zero or less keeps the grid's default width.
struct GridColumn {
  QString field;
  QString title;
  int width = 0;
  Qt::Alignment alignment = Qt::AlignLeft;
};

// A read-only table over a result set that follows its signals. The row count it reports changes only between the
// begin/end notifications, so views never see rows the result set holds before they were announced (or after).
// The vertical header is the row indicator: it marks the result set's current row.
class ResultSetModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  ResultSetModel(store::ResultSet* rows, QVector<GridColumn> columns, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  const QVector<GridColumn>& Columns() const { return m_columns; }
  store::ResultSet* Rows() const { return m_rows; }

 private:
  void OnReopened();
  void OnRowChanged(int row);
  void OnRowInserted(int row);
  void OnRowRemoved(int row);
  void OnCurrentRowChanged(int row);
  void RefreshIndicator(int row);

  store::ResultSet* m_rows;
  QVector<GridColumn> m_columns;
  int m_rowCount = 0;
  int m_indicatorRow = -1;
};

// The paper grid: whole-row selection, column titles, row indicator, resizable columns, grid lines, no editing or
// insertion, and Ctrl+Delete with a confirmation. Its current row and the result set's current row stay the same row
// whichever side moves.
class DataGrid : public QTableView {
  Q_OBJECT

 public:
  DataGrid(store::ResultSet* rows, QVector<GridColumn> columns, QWidget* parent = nullptr);

  ResultSetModel* Model() const { return m_model; }

 signals:
  // A double-click anywhere on the grid's cells area, after the click has moved the current row.
  void DblClick();
  // A click on a column's title asks for the list in that column's order: ascending first, then each further click
  // on the same title the other way round. The title carries the sort indicator from then on.
  void TitleClick(const QString& field, Qt::SortOrder order);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void ShowCurrentRow();
  void OnViewCurrentRowChanged(const QModelIndex& current);
  void DeleteCurrentRecord();
  void OnTitleClicked(int section);

  store::ResultSet* m_rows;
  ResultSetModel* m_model;
  bool m_syncing = false;
  // The title last clicked (-1: none yet) and the order it asked for.
  int m_sortSection = -1;
  Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

}  // namespace ui
