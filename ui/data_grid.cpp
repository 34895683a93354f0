#include "ui/data_grid.h"

#include "store/result_set.h"
#include "ui/error_report.h"
#include "ui/seams.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <utility>

namespace ui {
namespace {

constexpr const char* kDeleteQuestion = "Delete record?";
// The row indicator's mark and the width of its column.
constexpr char16_t kIndicatorMark = u'\x25B6';
constexpr int kIndicatorWidth = 14;
// Rows are as high as the text plus a little air, as in the classic data grid.
constexpr int kRowPadding = 4;

}  // namespace

ResultSetModel::ResultSetModel(store::ResultSet* rows, QVector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), m_rows(rows), m_columns(std::move(columns)) {
  m_rowCount = m_rows->RecordCount();
  m_indicatorRow = m_rows->CurrentRow();
  connect(m_rows, &store::ResultSet::Reopened, this, &ResultSetModel::OnReopened);
  connect(m_rows, &store::ResultSet::RowChanged, this, &ResultSetModel::OnRowChanged);
  connect(m_rows, &store::ResultSet::RowInserted, this, &ResultSetModel::OnRowInserted);
  connect(m_rows, &store::ResultSet::RowRemoved, this, &ResultSetModel::OnRowRemoved);
  connect(m_rows, &store::ResultSet::CurrentRowChanged, this, &ResultSetModel::OnCurrentRowChanged);
}

int ResultSetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rowCount; }

int ResultSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant ResultSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= m_rows->RecordCount() || index.column() >= m_columns.size()) {
    return {};
  }
  const GridColumn& column = m_columns[index.column()];
  switch (role) {
    case Qt::DisplayRole:
      return m_rows->FieldAsText(index.row(), column.field);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(column.alignment | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant ResultSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    if (role == Qt::DisplayRole) {
      return section == m_indicatorRow ? QString(QChar(kIndicatorMark)) : QString();
    }
    return {};
  }
  if (section < 0 || section >= m_columns.size()) {
    return {};
  }
  switch (role) {
    case Qt::DisplayRole:
      return m_columns[section].title;
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(m_columns[section].alignment | Qt::AlignVCenter);
    default:
      return {};
  }
}

Qt::ItemFlags ResultSetModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void ResultSetModel::OnReopened() {
  beginResetModel();
  m_rowCount = m_rows->RecordCount();
  m_indicatorRow = m_rows->CurrentRow();
  endResetModel();
}

void ResultSetModel::OnRowChanged(int row) {
  if (row >= 0 && row < m_rowCount) {
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  }
}

void ResultSetModel::OnRowInserted(int row) {
  const int at = std::clamp(row, 0, m_rowCount);
  beginInsertRows(QModelIndex(), at, at);
  ++m_rowCount;
  endInsertRows();
}

void ResultSetModel::OnRowRemoved(int row) {
  if (row < 0 || row >= m_rowCount) {
    return;
  }
  beginRemoveRows(QModelIndex(), row, row);
  --m_rowCount;
  endRemoveRows();
}

void ResultSetModel::OnCurrentRowChanged(int row) { RefreshIndicator(row); }

void ResultSetModel::RefreshIndicator(int row) {
  const int previous = m_indicatorRow;
  m_indicatorRow = row;
  for (int section : {previous, row}) {
    if (section >= 0 && section < m_rowCount) {
      emit headerDataChanged(Qt::Vertical, section, section);
    }
  }
}

DataGrid::DataGrid(store::ResultSet* rows, QVector<GridColumn> columns, QWidget* parent)
    : QTableView(parent), m_rows(rows), m_model(new ResultSetModel(rows, std::move(columns), this)) {
  setModel(m_model);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setAlternatingRowColors(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + kRowPadding);
  verticalHeader()->setFixedWidth(kIndicatorWidth);
  verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  verticalHeader()->setHighlightSections(false);
  const QVector<GridColumn>& gridColumns = m_model->Columns();
  for (int i = 0; i < gridColumns.size(); ++i) {
    if (gridColumns[i].width > 0) {
      setColumnWidth(i, gridColumns[i].width);
    }
  }

  // The toolkit's own sorting would reorder the rows the model holds; the order is the database's business, so the
  // grid only shows the indicator and reports the click.
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setSortIndicatorShown(false);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DataGrid::OnTitleClicked);

  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { OnViewCurrentRowChanged(current); });
  // Connected after the model's own slots, so the view is already reset or updated when these run.
  connect(m_rows, &store::ResultSet::Reopened, this, &DataGrid::ShowCurrentRow);
  connect(m_rows, &store::ResultSet::CurrentRowChanged, this, &DataGrid::ShowCurrentRow);
  connect(m_rows, &store::ResultSet::RowInserted, this, &DataGrid::ShowCurrentRow);
  connect(m_rows, &store::ResultSet::RowRemoved, this, &DataGrid::ShowCurrentRow);
  ShowCurrentRow();
}

void DataGrid::ShowCurrentRow() {
  const int row = m_rows->CurrentRow();
  const QModelIndex current = currentIndex();
  if (row < 0 || row >= m_model->rowCount()) {
    if (current.isValid()) {
      m_syncing = true;
      selectionModel()->clear();
      m_syncing = false;
    }
    return;
  }
  if (current.isValid() && current.row() == row) {
    return;
  }
  m_syncing = true;
  const QModelIndex target = m_model->index(row, current.isValid() ? current.column() : 0);
  selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  m_syncing = false;
  scrollTo(target);
}

void DataGrid::OnViewCurrentRowChanged(const QModelIndex& current) {
  if (m_syncing || !current.isValid() || current.row() == m_rows->CurrentRow()) {
    return;
  }
  Guarded([&] { m_rows->SetCurrentRow(current.row()); });
  // A move the result set refused (a pending row it could not post) puts the grid back on the row it kept.
  ShowCurrentRow();
}

void DataGrid::OnTitleClicked(int section) {
  const QVector<GridColumn>& columns = m_model->Columns();
  if (section < 0 || section >= columns.size()) {
    return;
  }
  // The order is kept here, not read back from the header: the header turns its own indicator round on every click
  // before it reports one.
  const bool turnRound = section == m_sortSection && m_sortOrder == Qt::AscendingOrder;
  m_sortOrder = turnRound ? Qt::DescendingOrder : Qt::AscendingOrder;
  m_sortSection = section;
  horizontalHeader()->setSortIndicator(section, m_sortOrder);
  horizontalHeader()->setSortIndicatorShown(true);
  emit TitleClick(columns[section].field, m_sortOrder);
}

void DataGrid::DeleteCurrentRecord() {
  // The row is taken before the question: its event loop may run a catalogue update that refreshes, re-filters or
  // empties the list, and the paper the user said OK to is the one to go, wherever it stands by then.
  const qint64 confirmed = m_rows->CurrentId();
  if (confirmed < 0) {
    return;
  }
  if (dialogs().Confirm(QString::fromLatin1(kDeleteQuestion))) {
    m_rows->DeleteById(confirmed);
  }
}

void DataGrid::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
    Guarded([this] { DeleteCurrentRecord(); });
    event->accept();
    return;
  }
  // Insert would start a new row in the classic grid; this grid allows none.
  if (event->key() == Qt::Key_Insert) {
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void DataGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) {
    emit DblClick();
  }
}

}  // namespace ui
