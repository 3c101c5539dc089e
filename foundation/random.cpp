// random: see random.h. The arithmetic follows glibc's srandom_r and random_r exactly: the
// 32-bit words wrap on addition, and the lowest bit of each sum is dropped.
#include "foundation/random.h"

namespace {

constexpr int separation = 3;  // the lag between the two words added

// Made on first use: pools built during static initialisation already reseed it. Seeded with 1,
// as rand() is until srand is called.
randstream& shared() {
  static randstream stream(1);
  return stream;
}

}  // namespace

randstream::randstream(unsigned seed) {
  this->seed(seed);
}

void randstream::seed(unsigned seed) {
  // 0 would leave the whole state 0; glibc takes 1 instead.
  if (seed == 0) seed = 1;
  // The seed as a signed word, as glibc stores it: seeds of 2^31 and above start negative.
  int32_t word = static_cast<int32_t>(seed);
  state_[0] = word;
  for (int i = 1; i < degree; i++) {
    // 16807 * word mod (2^31 - 1), by Schrage's method so that nothing overflows 32 bits.
    const int32_t hi = word / 127773;
    const int32_t lo = word % 127773;
    word = 16807 * lo - 2836 * hi;
    if (word < 0) word += 2147483647;
    state_[i] = word;
  }
  front_ = separation;
  rear_ = 0;
  // The first 310 numbers still show the seed's structure; glibc throws them away.
  for (int i = 0; i < 10 * degree; i++) next();
}

void seedrandom(unsigned seed) {
  shared().seed(seed);
}

int randomnumber() {
  return shared().next();
}
