// commands: the input callbacks. 'g' on the idle screen starts the next trial (or ends the run
// when none is left), 's' in PICK finishes it, and clicks in PICK are scored and logged. Input
// counts only once PICK is on screen: earlier clicks and 's' in a trial are logged as `early`
// and do nothing; the wheel is logged and never scored. A browser's page leaving full screen or
// being hidden during a trial is logged too.
// The phases in between belong to the phase loop; the byte formats to records.cpp and
// events.cpp; the hit test to the map.
#include <GL/glut.h>

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "model/map.h"
#include "presentation/display.h"
#include "presentation/keyboard.h"
#include "run/events.h"
#include "run/records.h"
#include "run/run.h"

namespace {

void starttrial() {
  if (map.trials.size <= 0) {
    if (map.trial_count != 0) exit(0);
    // Nothing was ever started: the settings hold no trial, and idling on would only hide it.
    printf("There are no trials to run: the settings file defines none.\n");
    exit(EXIT_FAILURE);
  }
  // The last trial's points, should no idle frame have been drawn since its 's'.
  scoreidle();
  trial* t = map.trials.randnum();
  assert(t->wait_index >= 0 && t->wait_index < 100 &&
         "starttrial: a trial's wait_index must point into wait_lengths");
  map.wait_length = map.wait_lengths[t->wait_index];
  map.blank_wait = t->blank_wait ? 1 : 0;
  map.borders = t->borders ? 1 : 0;
  map.instant_shift = t->instant_shift;
  map.num_distracts = t->num_distracts;
  map.num_targets = t->num_targets;
  int cell = tallycell(t->num_targets, t->num_distracts);
  if (cell >= 0) count[cell] += 1;
  delete t;
  const double began = display.gettime();
  hooks.resetmap();
  const double laid = display.gettime();
  map.trial_count += 1;
  recordstart r = {map.trial_count, map.num_targets,           map.num_distracts, map.borders,
                   map.blank_wait,  map.instant_shift ? 1 : 0, map.wait_length,   map.rotate_angle};
  writetabstart(map.results_file, r);
  writecoordstart(map.coord_file, r);
  trialstartrow e = {laid,
                     display.frame_count,
                     r,
                     static_cast<int>(map.shift_step.x),
                     static_cast<int>(map.shift_step.y),
                     (laid - began) * 1000,
                     map.seed_layout,
                     map.seed_cells};
  events.trialstart(map.events_file, e);
  // A crash, a kill or a power cut from here on costs at most this trial; a record that cannot
  // be kept ends the run before the subject plays into nothing.
  flushrecords();
  savefacts();
  prgm_stat = 1;
  watch_start = INFINITY;  // timed from its first frame on screen
  nhits_t = nhits_d = nhits_e = total_hits = 0;
}

void finishtrial() {
  const double now = display.gettime();
  prgm_stat = 0;
  hooks.setcursor(GLUT_CURSOR_NONE);
  recordhits h = {ceilf(nhits_t), ceilf(nhits_d), ceilf(nhits_e), ceilf(total_hits)};
  writetabhits(map.results_file, h);
  writecoordhits(map.coord_file, h);
  sortclicks(&map.clicks);
  writecoordrows(map.coord_file, map.clicks, map.target_cells.head, map.distract_cells.head,
                 map.num_y);
  fputs("\n", map.coord_file);
  fputs("\n", map.results_file);
  events.trialend(map.events_file, {now, map.trial_count, display.frame_count, h});
  flushrecords();
}

// An `early` row: input in a trial before PICK was shown. A key has no position or button.
void early(int button, bool pressed, int x, int y, char key) {
  clickrow c = {};
  c.onset = display.gettime(), c.trial = map.trial_count, c.frame = display.frame_count;
  c.x_px = x, c.y_px = y, c.grid_x = c.grid_y = std::nanf("");
  c.button = button, c.pressed = pressed, c.early = true, c.key = key;
  events.click(c);
}

}  // namespace

void keydownfunc(unsigned char key, int x, int y) {
  keys.keydown(key);
  if (key == 'g' && prgm_stat == 0) starttrial();
  if (key == 's' && prgm_stat >= 1 && prgm_stat <= 5) {
    // The phase is PICK a frame before PICK is seen: an 's' then would end a trial whose
    // subject never saw the question.
    if (pickshown())
      finishtrial();
    else
      early(-1, true, x, y, 's');
  }
}

void keyupfunc(unsigned char key, int, int) {
  keys.keyup(key);
}

void pagefunc(int change) {
  if (prgm_stat == 0) return;  // the idle screen: no trial to record it in
  events.page(change, display.gettime(), display.frame_count);
}

void mousefunc(int button, int state, int x, int y) {
  if (prgm_stat == 0) return;  // the idle screen: no trial to record it in
  const bool pressed = state == GLUT_DOWN;
  if (!pickshown()) {
    early(button, pressed, x, y, 0);
    return;
  }
  const double now = display.gettime();
  const float nan = std::nanf("");
  // The toolkit reports the wheel as presses and releases of buttons 3 and 4 (and a sideways
  // wheel as 5 and 6): only the three buttons click.
  if (button < GLUT_LEFT_BUTTON || button > GLUT_RIGHT_BUTTON) {
    events.click({now, map.trial_count, display.frame_count, x, y, nan, nan, 0, 0, click_wheel, 0,
                  button, pressed});
    return;
  }
  const size_t clicks = map.clicks.size();
  // The toolkit counts y from the top of the window, the map from the bottom.
  const int result =
      hooks.checkclick(static_cast<double>(x), static_cast<double>(display.height - y));
  const std::pair<float, float> at =
      map.clicks.size() > clicks ? map.clicks.back() : std::make_pair(nan, nan);
  // Every button's press and release is judged alike; the log keeps which it was, so that a
  // reader can tell a subject's second click on a cell from the release of the first.
  events.click({now, map.trial_count, display.frame_count, x, y, at.first, at.second,
                map.click_column, map.click_row, result, 0, button, pressed});
  switch (result) {
    case click_target:
      nhits_t += 1, total_hits += 1;
      break;
    case click_distractor:
      nhits_d += 1, total_hits += 1;
      break;
    case click_empty:
      nhits_e += 1, total_hits += 1;
      break;
    default:
      break;  // the cell already scored in this trial, or no cell of the grid
  }
}
