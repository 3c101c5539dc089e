// mapgl: what the map's GL tests share: an off-screen context in the program's fixed GL state
// and camera projection, and a map with the default settings and a small trial laid out.
#pragma once
#include <GL/gl.h>
#include "model/map.h"
#include "presentation/camera.h"
#include "tests/support/glcontext.h"

inline bool programgl(int width, int height) {
  if (!makeglcontext(width, height)) return false;
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GEQUAL, 1.0);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glClearDepth(1.0);
  glEnable(GL_CULL_FACE);
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
  glClearColor(0, 0, 0, 0);
  cam.init();
  return true;
}

// The start of a frame as the phase loop makes it, with the camera at rest.
inline void beginframe() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
}

inline void laidout(maphdl& m, int targets, int distracts) {
  mapdefaults(m);
  m.num_targets = targets;
  m.num_distracts = distracts;
  m.reset_map();
}
