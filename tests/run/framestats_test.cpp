// A phase's frame statistics: which intervals count as late. Times are multiples of 1/1024 s,
// so every interval and every bound is exact.
#include <gtest/gtest.h>

#include <vector>

#include "run/events.h"

namespace {

// The summary of a phase whose frames were swapped `units` / 1024 s apart, the last interval
// ending at the next phase's first swap.
phaseframes phase(const std::vector<int>& units) {
  framestats f;
  double t = 3;
  f.begin(t);
  for (size_t i = 0; i < units.size(); i++) {
    t += units[i] / 1024.0;
    if (i + 1 < units.size())
      f.add(t);
    else
      f.end(t);
  }
  return f.summary();
}

}  // namespace

TEST(FrameStats, AFrameIsLateOnlyBeyondOneAndAHalfMediansWhereverItFalls) {
  // A median of 16: 24 is 1.5 times it, not late; 25, 28 and 31 lie between 1.5 and 2 times
  // it, and 32 is twice it: late, whether early in the phase or its last interval.
  phaseframes p = phase({25, 16, 16, 24, 16, 16, 28, 16, 16, 32, 16, 31});
  EXPECT_EQ(p.frames, 12);
  EXPECT_EQ(p.median_ms, 16 / 1.024);
  EXPECT_EQ(p.max_ms, 32 / 1.024);
  EXPECT_EQ(p.late, 4);
  // An even count takes the mean of the middle two as the median: 20 here, so 30 is not late
  // and 31 is.
  EXPECT_EQ(phase({16, 24, 30, 16}).late, 0);
  EXPECT_EQ(phase({16, 24, 31, 16}).late, 1);
  EXPECT_EQ(phase({16, 16, 16, 16}).late, 0);
}
