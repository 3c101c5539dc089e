// pointer_glut: the platform layer of pointer.h on top of freeglut.
// glutWarpPointer places the pointer in window pixels from the top-left corner; the run's window
// covers the screen, so these are screen pixels too. Pointer motion goes on from there by itself.
#include "presentation/pointer.h"

#include <GL/freeglut.h>

namespace {

void warppointer(float x, float y) {
  // freeglut ends the program when asked about windows before glutInit, and there is nothing
  // to warp before a window exists.
  if (!glutGet(GLUT_INIT_STATE)) return;
  if (glutGetWindow() == 0) return;
  glutWarpPointer(static_cast<int>(x), static_cast<int>(y));
}

}  // namespace

void (*movepointer)(float x, float y) = warppointer;
