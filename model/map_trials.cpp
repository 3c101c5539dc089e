// map_trials: building the trials of one target/distractor set line and their angle pools, and
// shuffling the pools when the settings ask for it.
// Owns how borders, blank waits and instant shifts are spread over a set and which wait length
// each trial takes; drawing trials and taking angles belong to the run and the layout.
#include <cassert>
#include <utility>

#include "foundation/random.h"
#include "model/map.h"

namespace {

// A flag still owed to the remaining trials is forced; before that a coin decides, so the
// flagged trials are spread over the set while their number stays exact.
bool dealflag(long long left, int wanted, long long* given) {
  bool flag = false;
  if (left <= wanted - *given)
    flag = true;
  else if (*given < wanted)
    flag = randomnumber() % 2 == 1;
  if (flag) ++*given;
  return flag;
}

}  // namespace

void maphdl::addtrialset(int targets, int distracts, int* wait_pos) {
  assert(wait_pos && "addtrialset needs the block's wait-length position, starting at 0");
  // The position cycles within the list; anything else would read past it.
  if (*wait_pos < 0 || *wait_pos >= 100) *wait_pos = 0;
  // 64-bit sums: the counts come straight from the settings file and may be any int.
  long long borders_given = 0, blank_given = 0, instant_given = 0;
  const int total = num_trials_per_set;
  for (int k = 0; k < total; k++) {
    const long long left = total - k;

    // Borders first, then the blank wait (the last ones of the set, no coin), then the instant
    // shift: the order of the coin tosses fixes which trials a seed makes.
    const bool has_borders = dealflag(left, num_with_borders, &borders_given);
    const bool has_blank = left <= num_blank_wait - blank_given;
    if (has_blank) blank_given++;
    const bool has_instant = dealflag(left, num_instant_shifts, &instant_given);

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

void shufflepools(std::map<std::string, std::vector<float>>* pools) {
  assert(pools && "shufflepools needs the pools to shuffle");
  // Fisher-Yates from the end, a draw among n being randomnumber() % n as everywhere in the model.
  for (auto& entry : *pools) {
    std::vector<float>& pool = entry.second;
    for (size_t i = pool.size(); i > 1; i--)
      std::swap(pool[i - 1], pool[static_cast<size_t>(randomnumber()) % i]);
  }
}
