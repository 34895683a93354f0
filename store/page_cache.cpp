#include "store/page_cache.h"

#include <utility>

namespace store {

const PageCache::Page* PageCache::Find(int page) {
  auto it = m_pages.constFind(page);
  if (it == m_pages.constEnd()) {
    return nullptr;
  }
  m_use.removeOne(page);
  m_use.push_back(page);
  return &it.value();
}

const PageCache::Page& PageCache::Insert(int page, Page rows) {
  m_use.removeOne(page);
  if (!m_pages.contains(page) && m_pages.size() >= kPagesHeld) {
    m_pages.remove(m_use.takeFirst());
  }
  m_use.push_back(page);
  return *m_pages.insert(page, std::move(rows));
}

Row* PageCache::HeldRow(int row) {
  if (row < 0) {
    return nullptr;
  }
  auto page = m_pages.find(PageOf(row));
  const int offset = row - FirstRowOf(PageOf(row));
  return page != m_pages.end() && offset < page->size() ? &(*page)[offset] : nullptr;
}

int PageCache::HeldRowWith(int column, qint64 value) const {
  for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
    for (int i = 0; i < page->size(); ++i) {
      const Row& row = (*page)[i];
      if (column < row.size() && !row[column].isNull() && row[column].toLongLong() == value) {
        return FirstRowOf(page.key()) + i;
      }
    }
  }
  return -1;
}

void PageCache::ForgetFrom(int page) {
  for (auto it = m_pages.begin(); it != m_pages.end();) {
    if (it.key() >= page) {
      m_use.removeOne(it.key());
      it = m_pages.erase(it);
    } else {
      ++it;
    }
  }
}

void PageCache::Clear() {
  m_pages.clear();
  m_use.clear();
}

}  // namespace store
