// recreate: see recreate.h. Owns the use of the seeding seam (seedsource); the layout itself
// is the model's reset_map, run unchanged.
#include "replay/recreate.h"

#include <algorithm>
#include <cassert>

#include "model/map.h"

namespace {

unsigned recorded_seeds[2];  // seed_layout, seed_cells of the trial being laid out
int seeds_taken;             // reseeds so far in this layout

unsigned nextrecorded() {
  return recorded_seeds[std::min(seeds_taken++, 1)];
}

std::string cell(std::pair<int, int> c) {
  return "(" + std::to_string(c.first) + "," + std::to_string(c.second) + ")";
}

// The first difference between the re-created and the recorded cells of one kind, or "".
std::string firstdifference(const char* kind, const generator<int>& made,
                            const std::vector<std::pair<int, int>>& recorded, int num_y) {
  std::vector<std::pair<int, int>> here;
  for (gen_node<int>* n = made.head; n; n = n->next)
    here.emplace_back(n->value / num_y, n->value % num_y);
  if (here.size() != recorded.size())
    return std::to_string(here.size()) + " " + kind + "s re-created, " +
           std::to_string(recorded.size()) + " recorded";
  for (size_t i = 0; i < here.size(); i++)
    if (here[i] != recorded[i])
      return std::string(kind) + " " + std::to_string(i + 1) + " is " + cell(here[i]) +
             " re-created but " + cell(recorded[i]) + " recorded";
  return "";
}

}  // namespace

void recreate(maphdl& m, const recordstart& c, unsigned seed_layout, unsigned seed_cells) {
  m.wait_length = c.wait_length;
  m.blank_wait = c.blank;
  m.borders = c.borders;
  m.instant_shift = c.instant != 0;
  // The layout places items while candidate cells are left and only counts the rest, so counts
  // held to the grid's cells lay out the same map without walking through a count in the
  // billions.
  const int cells = m.num_x * m.num_y;
  m.num_distracts = std::clamp(c.distracts, 0, cells);
  m.num_targets = std::clamp(c.targets, 0, cells);
  m.trial_count = c.trial;
  // The pool holds just the recorded angle, so the layout takes it as the run's pool gave it
  // (0 after a pool ran dry, which is also what the record then says).
  m.angle_pools.clear();
  m.angle_pools[conditionkey(m.num_targets, c.blank, c.wait_length, c.instant != 0, c.borders)] = {
      c.rotate_angle};

  unsigned (*saved)() = seedsource;
  recorded_seeds[0] = seed_layout;
  recorded_seeds[1] = seed_cells;
  seeds_taken = 0;
  seedsource = nextrecorded;
  m.reset_map();
  seedsource = saved;
  assert(seeds_taken == 2 &&
         "recreate: reset_map must reseed exactly twice (layout, then the candidate pool); "
         "when that changes, the event log's seed columns and this seam must change with it");
}

std::string shiftdiffers(const maphdl& m, const loggedtrial& log) {
  if (m.shift_step.x == log.shift_x && m.shift_step.y == log.shift_y) return "";
  return "the shift is " +
         cell({static_cast<int>(m.shift_step.x), static_cast<int>(m.shift_step.y)}) +
         " re-created but " + cell({log.shift_x, log.shift_y}) + " in the log";
}

std::string differences(const maphdl& m, const coordtrial& recorded, const loggedtrial& log) {
  std::string d = firstdifference("target", m.target_cells, recorded.targets, m.num_y);
  if (d.empty()) d = firstdifference("distractor", m.distract_cells, recorded.distracts, m.num_y);
  if (d.empty()) d = shiftdiffers(m, log);
  return d;
}
