#include "download/silence_watch.h"

#include <algorithm>
#include <limits>

namespace download {

void SilenceWatch::Start(std::int64_t nowMs, bool resumable) {
  *this = SilenceWatch(m_shortestCutMs);
  m_resumable = resumable;
  m_lastMs = nowMs;
}

void SilenceWatch::Arrived(std::int64_t nowMs, std::size_t bytes) {
  // The wait before the first piece is the server's time to answer, not the link's rhythm.
  if (m_anyPiece) m_longestGapMs = std::max(m_longestGapMs, nowMs - m_lastMs);
  m_anyPiece = true;
  m_lastMs = nowMs;
  m_bytes += static_cast<std::int64_t>(bytes);
}

int SilenceWatch::LimitMs(int readLimitMs) const {
  if (!m_resumable || m_bytes < kFlowingAfterBytes) return readLimitMs;
  // The gaps are a few seconds at most once bytes flow, far from overflowing the product.
  const std::int64_t cut = std::max<std::int64_t>(m_shortestCutMs, kSilenceGapMultiple * m_longestGapMs);
  if (readLimitMs > 0 && cut >= readLimitMs) return readLimitMs;
  return static_cast<int>(std::min<std::int64_t>(cut, std::numeric_limits<int>::max()));
}

bool SilenceWatch::Shortens(int readLimitMs) const {
  const int limit = LimitMs(readLimitMs);
  return readLimitMs <= 0 ? limit > 0 : limit < readLimitMs;
}

}  // namespace download
