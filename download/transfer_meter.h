#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

// What the download strip tells beside its bar: how much has arrived of how much, how fast, and how long is left, in
// the units and words a Chinese Windows shows. Texts are UTF-8.
namespace download {

// Bytes below a kilobyte as "512 字节", otherwise KB, MB or GB with one decimal, 1024 to the step (as Explorer does).
std::string FormatSize(std::int64_t bytes);
// "1.2 MB/s".
std::string FormatSpeed(double bytesPerSecond);
// "约 30 秒", "约 5 分钟", "约 2 小时", rounded up.
std::string FormatTimeLeft(std::int64_t seconds);
// The sum of two byte counts as the bar and the text count them: -1 (unknown) when either is negative, the largest
// count when the sum would not fit. A server's numbers go into these sums, and it may announce anything.
std::int64_t AddByteCounts(std::int64_t a, std::int64_t b);
// During the pause before another try: which try comes next and in how many seconds, "第 2 次尝试，4 秒后开始".
std::string RetryText(int nextTry, int pauseMs);

// Follows one transfer over time. The speed is measured over the last few seconds, so a stall shows at once and a
// burst does not promise too much; the text changes at most four times a second, which a screen reader can follow.
class TransferMeter {
 public:
  static constexpr std::int64_t kUpdateEveryMs = 250;
  static constexpr std::int64_t kSpeedWindowMs = 3000;

  // A transfer that starts with `received` bytes already there (a resumed paper), of `total` (-1: unknown).
  void Start(std::int64_t nowMs, std::int64_t received, std::int64_t total);
  // The text to show now, when it is time for one.
  std::optional<std::string> Update(std::int64_t nowMs, std::int64_t received);
  // "12.3 MB / 45.6 MB  1.2 MB/s  约 30 秒"; without a known length the received size and the speed.
  std::string Text() const;

 private:
  std::optional<double> Speed() const;

  std::int64_t m_total = -1;
  std::int64_t m_received = 0;
  std::int64_t m_lastShownMs = 0;
  bool m_shownOnce = false;
  // (time, bytes) samples of the last kSpeedWindowMs.
  std::deque<std::pair<std::int64_t, std::int64_t>> m_samples;
};

}  // namespace download
