#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "model/generator.h"

static std::vector<int> values(const generator<int>& g) {
  std::vector<int> out;
  for (gen_node<int>* n = g.head; n; n = n->next) out.push_back(n->value);
  return out;
}

// The back links must mirror the forward ones, or rem corrupts the pool.
static bool linked(const generator<int>& g) {
  gen_node<int>* prev = nullptr;
  int count = 0;
  for (gen_node<int>* n = g.head; n; prev = n, n = n->next, count++)
    if (n->prev != prev) return false;
  return prev == g.tail && count == g.size;
}

TEST(generator, fillsaddandremkeepthelinks) {
  generator<int> g;
  g.fill(0, 0);
  g.fill(0, 5);
  EXPECT_EQ(values(g), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(g.sadd(3));
  EXPECT_TRUE(g.sadd(7));
  EXPECT_EQ(g.size, 6);

  EXPECT_EQ(g.rem(g.head), 0);
  EXPECT_EQ(g.rem(g.tail), 7);
  EXPECT_EQ(g.rem(g.head->next), 2);
  EXPECT_EQ(values(g), (std::vector<int>{1, 3, 4}));
  EXPECT_TRUE(linked(g));
  g.clear();
  g.add(9);
  EXPECT_EQ(g.rem(g.head), 9);
  EXPECT_EQ(g.head, nullptr);
  EXPECT_EQ(g.tail, nullptr);
}

TEST(generator, drawingemptiesthepoolonevalueatatime) {
  generator<int> g;
  g.fill(0, 25);
  std::set<int> seen;
  while (g.size > 0) {
    EXPECT_TRUE(seen.insert(g.randnum()).second);
    EXPECT_TRUE(linked(g));
  }
  EXPECT_EQ(seen.size(), 25u);
  EXPECT_EQ(g.randnum(), 0);
  EXPECT_EQ(g.size, 0);
}
