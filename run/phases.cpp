// phases: displayfunc, the frame drawn whenever the toolkit is idle, and the phase machine that
// moves a started trial from WATCH to PICK by the display clock. Starting and finishing a trial
// belong to the key commands (commands.cpp); what each phase shows belongs to the map.
#include <GL/glut.h>

#include <cassert>
#include <cmath>
#include <cstdio>

#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "run/run.h"

namespace {

const char* const labels[6] = {"", "WATCH", "SHIFT", "ROTATE", "WAIT", "PICK"};

}  // namespace

int nextphase(int stat, double now, float start, float length) {
  if (stat < 1 || stat > 4) return stat;
  return now - static_cast<double>(start) > static_cast<double>(length) ? stat + 1 : stat;
}

void advancephase() {
  float start = 0;
  float length = 0;
  switch (prgm_stat) {
    case 1:
      start = watch_start, length = map.watch_length;
      break;
    case 2:
      start = shift_start, length = map.shift_length;
      break;
    case 3:
      start = rotate_start, length = map.rotate_length;
      break;
    case 4:
      start = wait_start, length = map.wait_length;
      break;
    default:
      return;
  }
  int next = nextphase(prgm_stat, display.gettime(), start, length);
  if (next == prgm_stat) return;
  // The slide is paced by the frame rate, so it stops near, not on, the next cell; the trial's
  // geometry is defined by the cell it was meant to reach.
  if (prgm_stat == 2) map.finishshift();
  prgm_stat = next;
  switch (next) {
    case 2:
      shift_start = static_cast<float>(display.gettime());
      break;
    case 3:
      rotate_start = static_cast<float>(display.gettime());
      break;
    case 4:
      wait_start = static_cast<float>(display.gettime());
      break;
    case 5:
      hooks.setcursor(GLUT_CURSOR_LEFT_ARROW);
      break;
  }
}

void scoreidle() {
  points += (ceilf(nhits_t) - ceilf(nhits_d)) - ceilf(nhits_e);
  nhits_t = nhits_d = nhits_e = 0;
}

void displayfunc() {
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
    // The phase is drawn before its time is tested: the frame in which it runs out still shows
    // it, and a phase of length 0 is seen at least once. The label comes after the map so
    // that the map, swaying nearer than the text in WATCH, never covers it.
    hooks.render(prgm_stat - 1);
    hooks.drawtext(labels[prgm_stat], 0.0f, 0.92f);
    advancephase();
  } else if (prgm_stat == 5) {
    hooks.render(4);
    hooks.drawtext(labels[5], 0.0f, 0.92f);
    hooks.drawtext("press 's' to finish", 0.0f, 0.9f);
  }
  display.frame_count += 1;
  hooks.swapbuffers();
}
