#include "download/transfer_meter.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace download {
namespace {

constexpr double kStep = 1024.0;
constexpr const char* kUnits[] = {"KB", "MB", "GB"};
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr double kMsPerSecond = 1000.0;
constexpr const char* kGap = "  ";
constexpr std::int64_t kLargestCount = std::numeric_limits<std::int64_t>::max();
// 2^63, the first double beyond every int64: converting it or anything above would be undefined.
constexpr double kBeyondLargestCount = 9223372036854775808.0;

// A non-negative double rounded to a count, the largest count beyond the range; nothing (NaN) and less count as 0.
std::int64_t SaturatingRound(double value) {
  if (!(value > 0)) return 0;
  if (value >= kBeyondLargestCount) return kLargestCount;
  return std::llround(value);
}

// Whole units of `unit` seconds, rounded up, without the sum that could overflow near the largest count.
std::int64_t CeilDivide(std::int64_t seconds, std::int64_t unit) { return seconds / unit + (seconds % unit != 0); }

}  // namespace

std::string FormatSize(std::int64_t bytes) {
  if (bytes < static_cast<std::int64_t>(kStep)) return std::to_string(bytes < 0 ? 0 : bytes) + " 字节";
  double value = static_cast<double>(bytes) / kStep;
  std::size_t unit = 0;
  // Rounded to one decimal before choosing the unit, so 1023.96 KB reads "1.0 MB", never "1024.0 KB".
  while (unit + 1 < std::size(kUnits) && std::round(value * 10) / 10 >= kStep) {
    value /= kStep;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatSpeed(double bytesPerSecond) { return FormatSize(SaturatingRound(bytesPerSecond)) + "/s"; }

std::string FormatTimeLeft(std::int64_t seconds) {
  if (seconds < kSecondsPerMinute) return "约 " + std::to_string(seconds < 1 ? 1 : seconds) + " 秒";
  if (seconds < kSecondsPerHour) return "约 " + std::to_string(CeilDivide(seconds, kSecondsPerMinute)) + " 分钟";
  return "约 " + std::to_string(CeilDivide(seconds, kSecondsPerHour)) + " 小时";
}

std::int64_t AddByteCounts(std::int64_t a, std::int64_t b) {
  if (a < 0 || b < 0) return -1;
  return b > kLargestCount - a ? kLargestCount : a + b;
}

std::string RetryText(int nextTry, int pauseMs) {
  const int seconds = (pauseMs + 999) / 1000;
  return "第 " + std::to_string(nextTry) + " 次尝试，" + std::to_string(seconds) + " 秒后开始";
}

void TransferMeter::Start(std::int64_t nowMs, std::int64_t received, std::int64_t total) {
  m_total = total;
  m_received = received;
  m_shownOnce = false;
  m_samples.assign({{nowMs, received}});
}

std::optional<std::string> TransferMeter::Update(std::int64_t nowMs, std::int64_t received) {
  m_received = received;
  m_samples.emplace_back(nowMs, received);
  // One sample older than the window stays, so the speed always spans the whole window once it has passed.
  while (m_samples.size() > 2 && m_samples[1].first <= nowMs - kSpeedWindowMs) m_samples.pop_front();
  if (m_shownOnce && nowMs - m_lastShownMs < kUpdateEveryMs) return std::nullopt;
  m_shownOnce = true;
  m_lastShownMs = nowMs;
  return Text();
}

std::optional<double> TransferMeter::Speed() const {
  if (m_samples.size() < 2) return std::nullopt;
  const auto& [firstMs, firstBytes] = m_samples.front();
  const auto& [lastMs, lastBytes] = m_samples.back();
  if (lastMs <= firstMs) return std::nullopt;
  // In doubles: counts that went down (a paper started over) or lie far apart cannot overflow there.
  return (static_cast<double>(lastBytes) - static_cast<double>(firstBytes)) * kMsPerSecond /
         (static_cast<double>(lastMs) - static_cast<double>(firstMs));
}

std::string TransferMeter::Text() const {
  std::string text = FormatSize(m_received);
  if (m_total >= 0) text += " / " + FormatSize(m_total);
  const std::optional<double> speed = Speed();
  if (!speed) return text;
  text += kGap + FormatSpeed(*speed);
  // A speed that reads "0 字节/s" promises no time; a crawl against a huge total saturates rather than wrap.
  if (m_total >= 0 && SaturatingRound(*speed) > 0) {
    const std::int64_t done = m_received < 0 ? 0 : m_received;
    const std::int64_t rest = done < m_total ? m_total - done : 0;
    text += kGap + FormatTimeLeft(SaturatingRound(std::ceil(static_cast<double>(rest) / *speed)));
  }
  return text;
}

}  // namespace download
