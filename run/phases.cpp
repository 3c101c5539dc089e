// phases: displayfunc, the frame drawn whenever the toolkit is idle, and the phase machine that
// moves a started trial from WATCH to PICK by the display clock, each phase timed from its
// onset. Starting and finishing a trial belong to the key commands (commands.cpp); what each
// phase shows belongs to the map; the rows the swaps make belong to the event log.
#include <GL/glut.h>

#include <cassert>
#include <cmath>
#include <cstdio>

#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "run/events.h"
#include "run/run.h"

namespace {

const char* const labels[6] = {"", "WATCH", "SHIFT", "ROTATE", "WAIT", "PICK"};

// The onset of a phase of a trial, null for idle; and the set length of a timed phase, 0 for
// idle and PICK.
double* onsetof(int stat) {
  double* const onsets[6] = {nullptr,       &watch_start, &shift_start,
                             &rotate_start, &wait_start,  &pick_start};
  return stat >= 0 && stat <= 5 ? onsets[stat] : nullptr;
}

float lengthof(int stat) {
  switch (stat) {
    case 1:
      return map.watch_length;
    case 2:
      return map.shift_length;
    case 3:
      return map.rotate_length;
    case 4:
      return map.wait_length;
  }
  return 0;
}

}  // namespace

int nextphase(int stat, double now, double start, float length) {
  if (stat < 1 || stat > 4) return stat;
  if (length <= 0) return stat + 1;
  return now - start > static_cast<double>(length) ? stat + 1 : stat;
}

void advancephase(double now) {
  double* onset = onsetof(prgm_stat);
  if (!onset || prgm_stat == 5) return;
  int next = nextphase(prgm_stat, now, *onset, lengthof(prgm_stat));
  if (next == prgm_stat) return;
  // The slide is paced by the frame rate, so it stops near, not on, the next cell; the trial's
  // geometry is defined by the cell it was meant to reach.
  if (prgm_stat == 2) map.finishshift();
  prgm_stat = next;
  // Timed from its onset, the swap of its first frame: a swap can take a whole frame (a software
  // renderer draws in it), so timing a phase from here could leave it short on screen.
  if (double* following = onsetof(next)) *following = INFINITY;
  if (next == 5) hooks.setcursor(GLUT_CURSOR_LEFT_ARROW);
}

void frameshown(int shown, double frame) {
  const double now = display.gettime();
  double* onset = onsetof(shown);
  if (onset && std::isinf(*onset)) *onset = now;
  events.swapped(map.events_file, shown, frame, now, lengthof(shown));
  // Tested once the frame is on its way to the screen, with the clock its onset was read by: the
  // frame in which a phase runs out still shows it, and the next phase's first frame is swapped
  // after `now`, so the phase lasts longer than its length; a phase of length 0 is seen once.
  advancephase(now);
}

bool pickshown() {
  return prgm_stat == 5 && !std::isinf(pick_start);
}

void scoreidle() {
  points += (ceilf(nhits_t) - ceilf(nhits_d)) - ceilf(nhits_e);
  nhits_t = nhits_d = nhits_e = 0;
}

namespace {

// A frame swapped where the platform shows it only after displayfunc has returned.
struct {
  bool waiting;  // swapped, not yet taken as shown
  int shown;     // the phase it showed
  double frame;  // the frame counter it was drawn with
} unshown;

}  // namespace

void displayfunc() {
  // The last frame has reached the screen by now: its time, and the phase change it may bring,
  // come before anything of this frame, just as they follow the swap where it waits.
  if (unshown.waiting) {
    unshown.waiting = false;
    frameshown(unshown.shown, unshown.frame);
  }
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  cam.setproj();
  if (prgm_stat == 0) {
    hooks.drawtext("Press 'g' to start.", 0.5f, 0.5f);
    scoreidle();
    char text[256];
    snprintf(text, sizeof text, "points: %f", static_cast<double>(points));
    hooks.drawtext(text, 0.5f, 0.48f);
  }
  assert(prgm_stat >= 0 && prgm_stat <= 5 && "displayfunc: prgm_stat must be a phase, 0..5");
  if (prgm_stat >= 1 && prgm_stat <= 4) {
    // The label comes after the map so that the map, swaying nearer than the text in WATCH,
    // never covers it. The phase's time is tested after the swap (frameshown).
    hooks.render(prgm_stat - 1);
    hooks.drawtext(labels[prgm_stat], 0.0f, 0.92f);
  } else if (prgm_stat == 5) {
    hooks.render(4);
    hooks.drawtext(labels[5], 0.0f, 0.92f);
    hooks.drawtext("press 's' to finish", 0.0f, 0.9f);
  }
  const double frame = display.frame_count;
  display.frame_count += 1;
  hooks.swapbuffers();
  if (hooks.swap_shows_frame)
    frameshown(prgm_stat, frame);
  else
    unshown = {true, prgm_stat, frame};
}
