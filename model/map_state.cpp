// map_state: the global map and data folder, and the map's construction, defaults and release.
// Owns what the map holds from start to exit; the results files are created by map_results.cpp,
// the settings by map_settings.cpp, the layout (textures) by map_layout.cpp.
#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "model/map.h"

char path[256];
maphdl map;

// Every plain field starts at zero, so an object made anywhere (not only the static global)
// starts as the global does: no files, no colour sets, no textures to delete.
maphdl::maphdl()
    : results_file(nullptr),
      coord_file(nullptr),
      events_file(nullptr),
      run_number(-1),
      wait_lengths(),
      num_wait_lengths(0),
      rotation_angles(),
      num_rotation_angles(0),
      wait_length(0),
      watch_length(0),
      shift_length(0),
      rotate_length(0),
      instant_shift(false),
      trial_count(0),
      num_targets_min(0),
      num_targets_max(0),
      num_distracts_min(0),
      num_distracts_max(0),
      num_trials_per_set(0),
      num_instant_shifts(0),
      num_with_borders(0),
      num_blank_wait(0),
      map_width(0),
      map_height(0),
      depth_sep(0),
      num_x(0),
      num_y(0),
      num_targets(0),
      num_distracts(0),
      borderwidth(0),
      discol(nullptr),
      tarcol(nullptr),
      num_discol(0),
      num_tarcol(0),
      borders(0),
      blank_wait(0),
      surround_scale(0),
      map_pos(),
      shift_dir(),
      rotation(0),
      rotate_angle(0),
      results_name(),
      coord_name(),
      events_name(),
      shift_step(),
      seed_layout(0),
      seed_cells(0),
      click_column(0),
      click_row(0),
      shuffle_angles(false),
      shuffle_seed(0) {}

void mapdefaults(maphdl& m) {
  m.wait_length = 2.0f;
  m.watch_length = 14.0f;
  m.shift_length = 2.0f;
  m.rotate_length = 2.0f;
  m.map_width = 0.7f;
  m.map_height = 0.7f;
  m.num_x = 5;
  m.num_y = 5;
  m.num_targets = 12;
  m.num_distracts = 13;
  m.depth_sep = 0.03f;
  m.num_discol = 0;
  m.num_tarcol = 0;
  m.borderwidth = 2;
  m.discol = nullptr;
  m.tarcol = nullptr;
  m.results_file = nullptr;
  m.coord_file = nullptr;
  m.events_file = nullptr;
  m.borders = 1;
  m.blank_wait = 0;
  m.trial_count = 0;
  m.surround_scale = 3.3f;
  m.num_targets_min = 1;
  m.num_targets_max = 2;
  m.num_distracts_min = 1;
  m.num_distracts_max = 2;
  m.num_trials_per_set = 1;
  m.num_instant_shifts = 0;
  m.num_with_borders = 0;
  m.num_blank_wait = 0;
  m.instant_shift = false;
  m.num_rotation_angles = 0;
  m.shuffle_angles = false;
  m.shuffle_seed = 0;
  m.map_tex.data = nullptr;
  m.under_tex.data = nullptr;
  m.background_tex.data = nullptr;
  m.trials.init();
  m.clicked_cells.init();
  m.target_cells.init();
  m.distract_cells.init();
}

bool maphdl::init() {
  mapdefaults(*this);
  FILE* files[run_files];
  char names[run_files][256];
  if (!openresults(path, files, names, &run_number)) return false;
  results_file = files[tab_results], coord_file = files[coord_results];
  events_file = files[events_log];
  memcpy(results_name, names[tab_results], 256);
  memcpy(coord_name, names[coord_results], 256);
  memcpy(events_name, names[events_log], 256);
  return true;
}

maphdl::~maphdl() {
  delete[] discol;
  delete[] tarcol;
  if (results_file) fclose(results_file);
  if (coord_file) fclose(coord_file);
  if (events_file) fclose(events_file);
  // Records still in the pool were never run; the pool itself only frees its nodes.
  for (gen_node<trial*>* n = trials.head; n; n = n->next) delete n->value;
}
