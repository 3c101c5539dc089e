// trial: one trial's condition, and the condition key that names its rotation-angle pool.
#pragma once
#include <string>

struct trial {
  int num_targets;     // target cells
  int num_distracts;   // distractor cells
  int wait_index;      // index into the map's wait_lengths
  bool instant_shift;  // the shift is applied at once instead of animated over SHIFT
  bool borders;        // cells are drawn with coloured rings
  bool blank_wait;     // nothing is drawn during WAIT
};

// The targets, blank-wait flag, wait length, instant-shift flag and borders flag written one
// after another as a default output stream writes them (2.0 as 2, 2.5 as 2.5): 12, 0, 2.5, 1, 0
// give "1202.510". The number of distractors is not part of the key.
std::string conditionkey(int num_targets, int blank_wait, float wait_length, bool instant_shift,
                         int borders);
