#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/map.h"

struct trialsets : ::testing::Test {
  maphdl m;
  void SetUp() override { mapdefaults(m); }

  std::vector<trial> made() const {
    std::vector<trial> out;
    for (gen_node<trial*>* n = m.trials.head; n; n = n->next) out.push_back(*n->value);
    return out;
  }
};

// The flag counts of a set are exact whatever the coins say; only their places vary.
TEST_F(trialsets, eachsethasexactlyitsflagcounts) {
  struct design {
    int n, b, i, w;
  };
  for (design d : {design{4, 2, 0, 1}, design{2, 5, 0, 0}, design{5, 0, 5, 2}, design{6, 3, 3, 6},
                   design{3, -1, 1, -4}, design{0, 1, 1, 1}}) {
    for (unsigned seed = 1; seed <= 20; seed++) {
      maphdl fresh;
      mapdefaults(fresh);
      fresh.num_trials_per_set = d.n;
      fresh.num_with_borders = d.b;
      fresh.num_instant_shifts = d.i;
      fresh.num_blank_wait = d.w;
      srand(seed);
      int pos = 0;
      fresh.addtrialset(9, 12, &pos);
      fresh.addtrialset(12, 9, &pos);
      ASSERT_EQ(fresh.trials.size, 2 * std::max(d.n, 0));
      int set = 0, k = 0, borders = 0, instants = 0;
      for (gen_node<trial*>* node = fresh.trials.head; node; node = node->next) {
        const trial& t = *node->value;
        EXPECT_EQ(t.num_targets, set ? 12 : 9);
        EXPECT_EQ(t.num_distracts, set ? 9 : 12);
        // The blank waits are the last W trials of each set.
        EXPECT_EQ(t.blank_wait, k >= d.n - d.w) << d.n << " " << d.w << " " << k;
        borders += t.borders;
        instants += t.instant_shift;
        if (++k == d.n) {
          EXPECT_EQ(borders, std::clamp(d.b, 0, d.n));
          EXPECT_EQ(instants, std::clamp(d.i, 0, d.n));
          set++, k = 0, borders = 0, instants = 0;
        }
      }
    }
  }
}

TEST_F(trialsets, waitlengthscycleacrosssetlinesandpoolsareshared) {
  m.num_trials_per_set = 3;
  m.wait_lengths[0] = 2, m.wait_lengths[1] = 6, m.num_wait_lengths = 2;
  m.rotation_angles[0] = 0, m.rotation_angles[1] = 90, m.rotation_angles[2] = 180;
  m.num_rotation_angles = 3;
  int pos = 0;
  m.addtrialset(9, 12, &pos);
  m.addtrialset(9, 15, &pos);
  std::vector<int> indices;
  for (const trial& t : made()) indices.push_back(t.wait_index);
  EXPECT_EQ(indices, (std::vector<int>{0, 1, 0, 1, 0, 1}));

  // Distractors are not part of the key: both sets draw from the same two pools, each a copy of
  // the angles as the file gave them.
  EXPECT_EQ(m.angle_pools.size(), 2u);
  EXPECT_EQ(m.angle_pools.at("90200"), (std::vector<float>{0, 90, 180}));
  EXPECT_EQ(m.angle_pools.at("90600"), (std::vector<float>{0, 90, 180}));
  m.rotation_angles[0] = 45;
  EXPECT_EQ(m.angle_pools.at("90200")[0], 0.0f);
}

TEST_F(trialsets, withoutwaitlengthseverytrialwaitsbyindexzero) {
  m.num_trials_per_set = 4;
  int pos = 0;
  m.addtrialset(12, 13, &pos);
  for (const trial& t : made()) EXPECT_EQ(t.wait_index, 0);
  EXPECT_EQ(pos, 0);
  ASSERT_EQ(m.angle_pools.size(), 1u);
  EXPECT_EQ(m.angle_pools.begin()->first, "120000");
  EXPECT_TRUE(m.angle_pools.begin()->second.empty());
}
