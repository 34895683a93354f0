#include "download/transfer_meter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace download {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

TEST(TransferMeter, SizesSpeedsAndTimesReadAsWindowsShowsThem) {
  const std::vector<std::pair<std::int64_t, std::string>> sizes = {
      {0, "0 字节"},           {1023, "1023 字节"},        {1024, "1.0 KB"},   {1536, "1.5 KB"},
      {1048575, "1.0 MB"},     {12 * kMiB + kMiB / 3, "12.3 MB"}, {1024 * kMiB, "1.0 GB"},
      {5000 * kMiB, "4.9 GB"}, {3LL * 1024 * 1024 * kMiB, "3072.0 GB"}, {INT64_MAX, "8589934592.0 GB"},
      {-1, "0 字节"},
  };
  for (const auto& [bytes, text] : sizes) EXPECT_EQ(FormatSize(bytes), text) << bytes;
  EXPECT_EQ(FormatSpeed(1.2 * kMiB), "1.2 MB/s");
  EXPECT_EQ(FormatSpeed(1e30), "8589934592.0 GB/s");
  const std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> sums = {
      {1, 2, 3}, {INT64_MAX - 1, 1, INT64_MAX}, {INT64_MAX, INT64_MAX, INT64_MAX}, {4, -1, -1}, {-1, 4, -1},
  };
  for (const auto& [a, b, sum] : sums) EXPECT_EQ(AddByteCounts(a, b), sum) << a << " + " << b;
  const std::vector<std::pair<std::int64_t, std::string>> times = {
      {0, "约 1 秒"}, {30, "约 30 秒"}, {59, "约 59 秒"}, {60, "约 1 分钟"}, {61, "约 2 分钟"}, {3600, "约 1 小时"},
      {INT64_MAX, "约 2562047788015216 小时"},
  };
  for (const auto& [seconds, text] : times) EXPECT_EQ(FormatTimeLeft(seconds), text) << seconds;
  EXPECT_EQ(RetryText(2, 1000), "第 2 次尝试，1 秒后开始");
  EXPECT_EQ(RetryText(4, 3500), "第 4 次尝试，4 秒后开始");
}

// A paper of 10 MiB resumed at 2 MiB, arriving at 1 MiB a second, then stalling: the strip's text at each progress
// event, at fixed times (nothing when less than a quarter second passed since the last text).
TEST(TransferMeter, TellsReceivedSpeedAndTimeLeftAtMostFourTimesASecond) {
  struct Step {
    std::int64_t atMs;
    std::int64_t received;
    std::optional<std::string> shown;
  };
  const std::vector<Step> steps = {
      {0, 2 * kMiB, "2.0 MB / 10.0 MB"},
      {100, 2 * kMiB + kMiB / 10, std::nullopt},
      {1000, 3 * kMiB, "3.0 MB / 10.0 MB  1.0 MB/s  约 7 秒"},
      {1200, 3 * kMiB + kMiB / 5, std::nullopt},
      {2000, 4 * kMiB, "4.0 MB / 10.0 MB  1.0 MB/s  约 6 秒"},
      {5000, 4 * kMiB, "4.0 MB / 10.0 MB  0 字节/s"},
      {6000, 4 * kMiB + kMiB / 2, "4.5 MB / 10.0 MB  128.0 KB/s  约 44 秒"},
  };
  TransferMeter meter;
  meter.Start(0, 2 * kMiB, 10 * kMiB);
  for (const Step& step : steps) {
    EXPECT_EQ(meter.Update(step.atMs, step.received), step.shown) << step.atMs;
  }
  // Other transfers' text two seconds after their start, or after the time given.
  struct Transfer {
    const char* label;
    std::int64_t total;
    std::int64_t received;
    std::string shown;
    std::int64_t atMs = 2000;
  };
  const std::vector<Transfer> transfers = {
      {"unknown length", -1, 2 * kMiB, "2.0 MB  1.0 MB/s"},
      {"a huge total at a crawl saturates", INT64_MAX, 2, "2 字节 / 8589934592.0 GB  1 字节/s  约 2562047788015216 小时"},
      {"a speed that reads 0 promises no time", 10 * kMiB, 1, "1 字节 / 10.0 MB  0 字节/s", 1000000000000000},
      {"more than announced", 10, 2 * kMiB, "2.0 MB / 10 字节  1.0 MB/s  约 1 秒"},
  };
  for (const Transfer& t : transfers) {
    TransferMeter other;
    other.Start(0, 0, t.total);
    other.Update(0, 0);
    EXPECT_EQ(other.Update(t.atMs, t.received), t.shown) << t.label;
  }
}

}  // namespace
}  // namespace download
