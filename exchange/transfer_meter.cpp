#include "exchange/transfer_meter.h"

#include <cmath>
#include <cstdio>

namespace exchange {
namespace {

constexpr double kStep = 1024.0;
constexpr const char* kUnits[] = {"KB", "MB", "GB"};
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr double kMsPerSecond = 1000.0;
constexpr const char* kGap = "  ";

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

std::string FormatSpeed(double bytesPerSecond) {
  return FormatSize(static_cast<std::int64_t>(std::llround(bytesPerSecond))) + "/s";
}

std::string FormatTimeLeft(std::int64_t seconds) {
  if (seconds < kSecondsPerMinute) return "约 " + std::to_string(seconds < 1 ? 1 : seconds) + " 秒";
  if (seconds < kSecondsPerHour) {
    return "约 " + std::to_string((seconds + kSecondsPerMinute - 1) / kSecondsPerMinute) + " 分钟";
  }
  return "约 " + std::to_string((seconds + kSecondsPerHour - 1) / kSecondsPerHour) + " 小时";
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
  return static_cast<double>(lastBytes - firstBytes) * kMsPerSecond / static_cast<double>(lastMs - firstMs);
}

std::string TransferMeter::Text() const {
  std::string text = FormatSize(m_received);
  if (m_total >= 0) text += " / " + FormatSize(m_total);
  const std::optional<double> speed = Speed();
  if (!speed) return text;
  text += kGap + FormatSpeed(*speed);
  if (m_total >= 0 && *speed > 0) {
    const auto left = static_cast<std::int64_t>(std::ceil(static_cast<double>(m_total - m_received) / *speed));
    text += kGap + FormatTimeLeft(left);
  }
  return text;
}

}  // namespace exchange
