#include "download/silence_watch.h"
#include "download/tries.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace download {
namespace {

constexpr std::int64_t kMinute = 60 * 1000;

// A try that moved the file on renews the budget; tries that move nothing end it after kMaxRetries, and so does an
// hour without progress.
TEST(TryBudget, CountsOnlyTriesInARowWithoutProgress) {
  struct Case {
    const char* label;
    std::vector<bool> progressed;  // one failed try each
    std::vector<std::int64_t> atMs;
    std::vector<int> expected;     // the retry each allows, 0: none
  };
  const std::vector<Case> cases = {
      {"nothing ever moves", {false, false, false, false}, {0, 1, 2, 3}, {1, 2, 3, 0}},
      {"seven breaks after progress", {true, true, true, true, true, true, true}, {0, 1, 2, 3, 4, 5, 6},
       {1, 1, 1, 1, 1, 1, 1}},
      {"progress after two idle tries", {false, false, true, false, false, false}, {0, 1, 2, 3, 4, 5},
       {1, 2, 1, 2, 3, 0}},
      {"an hour without progress", {false, false}, {0, 60 * kMinute}, {1, 0}},
      {"an hour of progress", {true, true}, {30 * kMinute, 60 * kMinute}, {1, 1}},
  };
  for (const Case& c : cases) {
    TryBudget budget(0);
    for (std::size_t i = 0; i < c.progressed.size(); ++i) {
      EXPECT_EQ(budget.AfterFailedTry(c.progressed[i], c.atMs[i]), c.expected[i]) << c.label << " try " << i + 1;
    }
  }
}

TryResult Broken(std::int64_t before, std::int64_t after) {
  TryResult result = FailedRequest(net::HttpClientError(net::ErrorKind::ConnectionClosedGracefully, "closed"));
  result.keptBefore = before;
  result.keptAfter = after;
  return result;
}

TryResult Ended(Failure failure) {
  TryResult result;
  result.failure = failure;
  return result;
}

// One road of tries: what each try ends with, and what the download does after it.
TEST(Tries, GoOnWhileTriesMoveTheFileOnAndStopAtWhatNoTryMends) {
  struct Case {
    const char* label;
    std::vector<TryResult> tries;
    Failure ends;
    std::vector<int> pauses;
  };
  std::vector<TryResult> eighths;
  for (int i = 0; i < 7; ++i) eighths.push_back(Broken(i * 512, (i + 1) * 512));
  eighths.push_back(Ended(Failure::kNone));
  const std::vector<Case> cases = {
      {"seven breaks, each after an eighth", eighths, Failure::kNone, {1000, 1000, 1000, 1000, 1000, 1000, 1000}},
      {"four breaks that keep nothing", {Broken(0, 0), Broken(0, 0), Broken(0, 0), Broken(0, 0)}, Failure::kNetwork,
       {1000, 2000, 4000}},
      {"an empty answer to the rest, then the rest", {Ended(Failure::kNoBody), Ended(Failure::kNone)}, Failure::kNone,
       {1000}},
      {"starts again at once, once", {Ended(Failure::kStartAgain), Ended(Failure::kStartAgain)}, Failure::kStartAgain,
       {}},
      {"the network's page is final", {Ended(Failure::kIntercepted)}, Failure::kIntercepted, {}},
      {"a file that cannot be written is final", {Ended(Failure::kCannotWrite)}, Failure::kCannotWrite, {}},
  };
  for (const Case& c : cases) {
    std::size_t next = 0;
    std::vector<int> pauses;
    Tries tries;
    tries.attempt = [&] { return c.tries.at(next++); };
    tries.stopped = [] { return false; };
    tries.pause = [&](int ms) {
      pauses.push_back(ms);
      return true;
    };
    tries.nowMs = [] { return 0; };
    tries.nowSeconds = [] { return 0; };
    EXPECT_EQ(tries.Run().failure, c.ends) << c.label;
    EXPECT_EQ(next, c.tries.size()) << c.label;
    EXPECT_EQ(pauses, c.pauses) << c.label;
  }
}

// A silence much longer than the gaps seen so far ends a flowing transfer that can be resumed; a slow, steady link
// shows its long gaps first and keeps the read limit.
TEST(SilenceWatch, CutsASilenceLongAgainstTheGapsOnlyWhereTheRestCanBeAsked) {
  struct Case {
    const char* label;
    bool resumable;
    std::vector<std::pair<std::int64_t, std::size_t>> pieces;  // (ms, bytes)
    int expected;
  };
  constexpr int kReadLimit = 30'000;
  const std::size_t kPiece = 32 * 1024;
  const std::vector<Case> cases = {
      {"flowing fast", true, {{10, kPiece}, {20, kPiece}, {30, kPiece}}, kShortestSilenceCutMs},
      {"not yet flowing", true, {{10, kPiece}}, kReadLimit},
      {"cannot be resumed", false, {{10, kPiece}, {20, kPiece}, {30, kPiece}}, kReadLimit},
      {"gaps of a second", true, {{0, kPiece}, {1000, kPiece}, {2000, kPiece}}, 8000},
      {"slow and steady: gaps of five seconds", true, {{0, kPiece}, {5000, kPiece}, {10000, kPiece}}, kReadLimit},
      {"the server's time to answer is no gap", true, {{20000, kPiece}, {20010, kPiece}, {20020, kPiece}},
       kShortestSilenceCutMs},
  };
  for (const Case& c : cases) {
    SilenceWatch watch;
    watch.Start(0, c.resumable);
    for (const auto& [ms, bytes] : c.pieces) watch.Arrived(ms, bytes);
    EXPECT_EQ(watch.LimitMs(kReadLimit), c.expected) << c.label;
    EXPECT_EQ(watch.Shortens(kReadLimit), c.expected < kReadLimit) << c.label;
  }
}

}  // namespace
}  // namespace download
