#include "store/list_reader.h"

#include "store/page_cache.h"

#include <QSqlQuery>

#include <algorithm>

namespace store {
namespace {

// Pages this close to either end of a list are read by offset even when the list keeps its order: the engine sorts
// only the rows up to them.
constexpr int kPagesNearAnEnd = 4;

}  // namespace

ListReader::ListReader(PreparedStatements& statements) : m_statements(statements), m_keptOrder(statements) {}

Rows ListReader::Open(const ListQuery& list, int columns) {
  Close();
  m_list = list;
  m_columns = columns;
  m_ceiling = m_statements.RunForNumber(CeilingStatement());
  // A list that fits in its first page needs no count of its own (the catalogue update opens its append target once
  // an import, the high-water mark once a check).
  Rows first = ReadByOffset(0, PageCache::kPageRows, false);
  if (first.size() < PageCache::kPageRows) {
    m_rows = static_cast<int>(first.size());
  }
  return first;
}

void ListReader::Close() {
  m_keptOrder.Clear();
  m_rows = -1;
}

int ListReader::RowCount() {
  if (m_rows < 0) {
    m_rows = static_cast<int>(m_statements.RunForNumber(CountStatement(m_list, m_ceiling)));
  }
  return m_rows;
}

Rows ListReader::ReadByOffset(int first, int count, bool fromTheEnd) {
  Statement page = PageStatement(m_list, m_ceiling, fromTheEnd);
  page.bindings << count << first;
  return m_statements.RunForRows(page, m_columns);
}

Rows ListReader::ReadPage(int page) {
  const int first = PageCache::FirstRowOf(page);
  if (m_keptOrder.IsFilled()) {
    return m_keptOrder.ReadRows(first, PageCache::kPageRows, m_columns);
  }
  const int rows = RowCount();
  const int end = std::min(first + PageCache::kPageRows, rows);
  const bool farHalf = first >= rows / 2;
  const int fromTheNearerEnd = farHalf ? rows - end : first;
  if (KeepsOrder(m_list) && fromTheNearerEnd > kPagesNearAnEnd * PageCache::kPageRows) {
    KeepOrder();
    return m_keptOrder.ReadRows(first, PageCache::kPageRows, m_columns);
  }
  if (!farHalf) {
    return ReadByOffset(first, PageCache::kPageRows, false);
  }
  Rows read = ReadByOffset(rows - end, end - first, true);
  std::reverse(read.begin(), read.end());
  return read;
}

void ListReader::KeepOrder() {
  if (m_keptOrder.IsFilled()) {
    return;
  }
  const int kept = m_keptOrder.Fill(IdStatement(m_list, m_ceiling));
  if (m_rows < 0) {
    m_rows = kept;
  }
}

void ListReader::BeforeChange() {
  if (KeepsOrder(m_list)) {
    KeepOrder();
  }
}

int ListReader::RowOf(qint64 id) {
  if (KeepsOrder(m_list)) {
    KeepOrder();
    return m_keptOrder.RowOf(id);
  }
  // In F_id order the row's place is the count of the list's rows on its newer side, which the index gives at once.
  QSqlQuery& query = m_statements.Run(NewestRankStatement(m_list, m_ceiling, id));
  const bool found = query.next() && query.value(1).toInt() == 1;
  const int newestRank = found ? query.value(0).toInt() - 1 : -1;
  query.finish();
  if (newestRank < 0 || newestRank >= RowCount()) {
    return -1;
  }
  return ShowsNewestFirst(m_list) ? newestRank : RowCount() - 1 - newestRank;
}

void ListReader::Remove(int row) {
  if (m_keptOrder.IsFilled()) {
    m_keptOrder.Remove(row);
  }
  if (m_rows > 0) {
    --m_rows;
  }
}

}  // namespace store
