#include "net/connection.h"

#include <gtest/gtest.h>

namespace net {
namespace {

TEST(FirstWaitSlice, RemainderAfterTheLargestSmallerMultiple) {
  struct Case {
    int limit, slice, first;
  };
  const Case cases[] = {{2000, 250, 250}, {2001, 250, 1}, {1, 250, 1}, {250, 250, 250}, {600, 250, 100}};
  for (const Case& c : cases) EXPECT_EQ(FirstWaitSlice(c.limit, c.slice), c.first) << c.limit;
}

// The connect thread is watched in slices with a pump after each; the limit is never overrun.
TEST(WaitForConnectThread, SlicesPumpsAndStopsAtTheLimitOrWhenFinished) {
  struct Case {
    const char* label;
    int limit, slice;
    int finishAfterSleeps;  // the thread finishes during this sleep; 0 = never
    bool finished;
    std::vector<int> sleeps;
    int pumps;
  };
  const Case cases[] = {
      {"default limit, never finishes", 120000, 125, 0, false, std::vector<int>(960, 125), 959},
      {"finishes in the first slice", 120000, 125, 1, true, {125}, 1},
      {"finishes in the third slice", 120000, 125, 3, true, {125, 125, 125}, 3},
      {"limit not a multiple", 300, 125, 0, false, {125, 125, 50}, 2},
      {"limit under one slice", 100, 125, 0, false, {100}, 0},
      {"finishes in the remainder", 300, 125, 3, true, {125, 125, 50}, 2},
  };
  for (const Case& c : cases) {
    std::vector<int> sleeps;
    int pumps = 0;
    bool done = false;
    bool result = WaitForConnectThread(
        c.limit, c.slice,
        [&](int ms) {
          sleeps.push_back(ms);
          if (c.finishAfterSleeps != 0 && static_cast<int>(sleeps.size()) == c.finishAfterSleeps) done = true;
        },
        [&] { ++pumps; }, [&] { return done; });
    EXPECT_EQ(result, c.finished) << c.label;
    EXPECT_EQ(sleeps, c.sleeps) << c.label;
    EXPECT_EQ(pumps, c.pumps) << c.label;
  }
}

}  // namespace
}  // namespace net
