// map_trials: building the trials of one target/distractor set line and their angle pools.
// Owns how borders, blank waits and instant shifts are spread over a set and which wait length
// each trial takes; drawing trials and taking angles belong to the run and the layout.
#include <cassert>
#include <cstdlib>

#include "model/map.h"

void maphdl::addtrialset(int targets, int distracts, int* wait_pos) {
  assert(wait_pos && "addtrialset needs the block's wait-length position, starting at 0");
  // The position cycles within the list; anything else would read past it.
  if (*wait_pos < 0 || *wait_pos >= 100) *wait_pos = 0;
  // 64-bit sums: the counts come straight from the settings file and may be any int.
  long long borders_given = 0, blank_given = 0, instant_given = 0;
  const int total = num_trials_per_set;
  for (int k = 0; k < total; k++) {
    const long long left = total - k;

    // Flags owed to the remaining trials are forced; before that a coin decides, so the flagged
    // trials are spread over the set while their number stays exact.
    bool has_borders = false;
    if (left <= num_with_borders - borders_given)
      has_borders = true;
    else if (borders_given < num_with_borders)
      has_borders = rand() % 2 == 1;
    if (has_borders) borders_given++;

    const bool has_blank = left <= num_blank_wait - blank_given;
    if (has_blank) blank_given++;

    bool has_instant = false;
    if (left <= num_instant_shifts - instant_given)
      has_instant = true;
    else if (instant_given < num_instant_shifts)
      has_instant = rand() % 2 == 1;
    if (has_instant) instant_given++;

    trial* t = new trial{targets, distracts, *wait_pos, has_instant, has_borders, has_blank};
    const std::string key = conditionkey(targets, has_blank ? 1 : 0, wait_lengths[*wait_pos],
                                         has_instant, has_borders ? 1 : 0);
    if (angle_pools.find(key) == angle_pools.end())
      angle_pools[key].assign(rotation_angles, rotation_angles + num_rotation_angles);
    trials.add(t);

    ++*wait_pos;
    if (*wait_pos >= num_wait_lengths) *wait_pos = 0;
  }
}
