#include <gtest/gtest.h>

#include "model/trial.h"

// The key is what the results file shows beside an exhausted pool, so it must read as a
// default stream prints: no trailing zeros, six significant digits, flags as 0 and 1.
TEST(conditionkey, writesthepartsastheresultsfileshowsthem) {
  EXPECT_EQ(conditionkey(12, 0, 2.5f, true, 0), "1202.510");
  EXPECT_EQ(conditionkey(9, 0, 0.0f, true, 0), "90010");
  EXPECT_EQ(conditionkey(9, 1, 2.0f, false, 1), "91201");
  EXPECT_EQ(conditionkey(3, 0, 0.25f, false, 1), "300.2501");
  EXPECT_EQ(conditionkey(3, 0, 1234567.0f, false, 1), "301.23457e+0601");
  // Nothing separates the parts, so different conditions can share a key.
  EXPECT_EQ(conditionkey(1, 1, 10.0f, true, 1), conditionkey(11, 1, 0.0f, true, 1));
}
