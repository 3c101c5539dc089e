// random: the program's one random number generator, the same on every platform.
// Owns the sequence behind every draw of a run (noise, cells, shift, trial order, coin tosses):
// the additive feedback generator that glibc's rand() and random() use by default (a state of
// 31 words, lag 3, seeded through the Park-Miller generator and run on 310 draws), so that a
// seed gives the numbers glibc's srand(seed) gives, bit for bit, whatever C library the program
// is built against. Seeds recorded by any build lay out the same trial in any other.
#pragma once
#include <cstdint>

// The largest number the generator gives (glibc's RAND_MAX).
constexpr int random_max = 2147483647;

// One stream of numbers with a state of its own.
class randstream {
 public:
  explicit randstream(unsigned seed = 1);
  void seed(unsigned seed);  // starts the sequence glibc's srand(seed) starts
  int next() {               // the next number, 0 to random_max
    // Inline: a noise image takes three numbers a texel.
    const uint32_t sum =
        static_cast<uint32_t>(state_[front_]) + static_cast<uint32_t>(state_[rear_]);
    state_[front_] = static_cast<int32_t>(sum);
    front_ = front_ == degree - 1 ? 0 : front_ + 1;
    rear_ = rear_ == degree - 1 ? 0 : rear_ + 1;
    return static_cast<int>(sum >> 1);
  }

 private:
  static constexpr int degree = 31;  // words of state
  int32_t state_[degree];            // the generator's words
  int front_;                        // the word the next draw adds to (glibc's fptr)
  int rear_;                         // the word it adds (glibc's rptr)
};

// The shared stream, for the draws that used rand() and srand(): a pool's draw, a coin toss,
// the shift. Single-threaded like the rest of the run.
void seedrandom(unsigned seed);  // as srand(seed)
int randomnumber();              // as rand()
