// random: the program's generator against the C library's own rand() (glibc, on the machines
// the tests run on), and streams that keep their states apart.
#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/random.h"

TEST(Random, GivesGlibcsRandSequenceBitForBit) {
  ASSERT_EQ(RAND_MAX, random_max);
  // 0 (taken as 1), small seeds, the largest signed and unsigned seeds and those around them.
  for (unsigned seed :
       {0u, 1u, 2u, 42u, 1700000000u, 2147483647u, 2147483648u, 4294967294u, 4294967295u}) {
    srand(seed);
    seedrandom(seed);
    randstream own(seed);
    int differ = 0, first = -1;
    for (int i = 0; i < 1000000; i++) {
      const int want = rand();
      const bool same = randomnumber() == want && own.next() == want;
      differ += !same;
      if (!same && first < 0) first = i;
    }
    EXPECT_EQ(differ, 0) << "seed " << seed << ": first difference at draw " << first;
  }
}

TEST(Random, StreamsKeepTheirOwnStateAndReseedFromTheStart) {
  randstream a(7), b(7);
  seedrandom(7);
  std::vector<int> first;
  for (int i = 0; i < 1000; i++) first.push_back(a.next());
  // Draws from the shared stream and a fresh stream of another seed leave b where it was.
  for (int i = 0; i < 500; i++) randomnumber();
  randstream other(8);
  other.next();
  for (int i = 0; i < 1000; i++) ASSERT_EQ(b.next(), first[i]) << i;
  a.seed(7);
  EXPECT_EQ(a.next(), first[0]);
  EXPECT_NE(randstream(8).next(), first[0]);
}
