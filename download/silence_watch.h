#pragma once

#include <cstddef>
#include <cstdint>

namespace download {

// The rule that ends a silence on a flowing transfer early: once a download that can be resumed has taken
// kFlowingAfterBytes, a silence longer than kSilenceGapMultiple times the longest gap between its pieces so far, and
// at least kShortestSilenceCutMs, ends the connection, and the next try asks for the rest on a new one. A link that
// went quiet without closing (a NAT that forgot the connection, Wi-Fi that roamed) then costs a few seconds instead
// of the whole read limit; a link that is slow but steady shows its gaps first and is never cut, since its limit grows
// with them. Only the read limit (kSilentLinkLimitMs) ends a silence of a transfer that could not be resumed.
inline constexpr std::int64_t kFlowingAfterBytes = 64 * 1024;
inline constexpr int kSilenceGapMultiple = 8;
inline constexpr int kShortestSilenceCutMs = 3000;

// Follows one transfer's pieces; clock-free (the caller's steady milliseconds), so the rule is a table test.
class SilenceWatch {
 public:
  explicit SilenceWatch(int shortestCutMs = kShortestSilenceCutMs) : m_shortestCutMs(shortestCutMs) {}
  // The transfer's body starts; `resumable`: what arrives can be continued by another try.
  void Start(std::int64_t nowMs, bool resumable);
  void Arrived(std::int64_t nowMs, std::size_t bytes);
  // How long the next wait for bytes may last, at most `readLimitMs` (the client's own limit; 0: none).
  int LimitMs(int readLimitMs) const;
  // Whether LimitMs is shorter than the read limit now.
  bool Shortens(int readLimitMs) const;

 private:
  int m_shortestCutMs;
  bool m_resumable = false;
  std::int64_t m_bytes = 0;
  std::int64_t m_lastMs = 0;
  bool m_anyPiece = false;
  std::int64_t m_longestGapMs = 0;
};

}  // namespace download
