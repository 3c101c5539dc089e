// display: window size, text, the clock and the frame-rate estimate; see display.h.
// Owns the clock every phase length is measured on and the text drawing of the whole run.
// The viewport itself is set by the run's reshape callback; fitviewport only works it out.
// The window size and the glyphs themselves come from the platform (platform.h).
#include "presentation/display.h"

#include <GL/gl.h>

#include <cassert>
#include <ctime>

#include "presentation/platform.h"

displayhdl display;

namespace {

double monotonicseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 0.000000001;
}

// The capabilities the text turns off, saved and put back as they were (the browser's GL has
// no attribute stack).
struct savedcaps {
  GLboolean texture = glIsEnabled(GL_TEXTURE_2D);
  GLboolean depth = glIsEnabled(GL_DEPTH_TEST);
  ~savedcaps() {
    if (texture) glEnable(GL_TEXTURE_2D);
    if (depth) glEnable(GL_DEPTH_TEST);
  }
};

}  // namespace

double (*display_clock)() = monotonicseconds;

void displayhdl::init() {
  resetwindsize();
  startclock();
}

void displayhdl::startclock() {
  start_time = display_clock();
  time = 0;
  fps_time = 0;
  frame_count = 0;
  fps = 0;
  fps_frames = 0;
}

void displayhdl::resetwindsize() {
  windowsize(&width, &height);
}

double displayhdl::gettime() {
  time = display_clock() - start_time;
  return time;
}

double displayhdl::getfps() {
  gettime();
  // One sample per tenth of a second at most, averaged over however long it has been since the
  // last one, so a pause in the calls gives the mean rate over the pause.
  if (static_cast<long long>(time * 10) != static_cast<long long>(fps_time * 10)) {
    fps = (frame_count - fps_frames) / (time - fps_time);
    fps_time = time;
    fps_frames = frame_count;
  }
  return fps;
}

void displayhdl::renderstring2d(const char* text, float r, float g, float b, float x, float y) {
  assert(text != nullptr && "renderstring2d needs a text, \"\" draws nothing");
  // clang-format off
  savedcaps saved;
  glPushMatrix();
    glLoadIdentity();
    // The colour must come before the raster position, which takes it over when set. Texturing
    // goes off first as well: the map leaves a noise texture bound, and a textured raster
    // position would tint the text or hide it. Depth testing goes off too: the swaying map
    // tilts nearer than the text's plane and would cover a label for seconds at a time; text
    // then also leaves the depth buffer alone, which the click test reads.
    glColor3f(r, g, b);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    // At one unit in front of the eye the fixed frustum spans -0.8..0.8 by -0.5..0.5.
    bitmaptext(text, static_cast<float>(x * 1.6 - 0.8), static_cast<float>(y * 0.985 - 0.5), -1.0f);
  glPopMatrix();
  // clang-format on
}

void displayhdl::renderstring3d(const char* text, float r, float g, float b, float x, float y,
                                float z) {
  assert(text != nullptr && "renderstring3d needs a text, \"\" draws nothing");
  savedcaps saved;
  glColor3f(r, g, b);
  glDisable(GL_TEXTURE_2D);  // as in renderstring2d: a bound texture would tint the text
  bitmaptext(text, x, y, z);
}

void fitviewport(int window_width, int window_height, int viewport[4]) {
  long long w = window_width > 0 ? window_width : 0;
  long long h = window_height > 0 ? window_height : 0;
  long long vw = w, vh = h;
  // The side that runs out first sets the size; the other is rounded to the nearest pixel,
  // which never exceeds the window because that side had room to spare.
  if (w * 10 > h * 16)
    vw = (h * 16 + 5) / 10;
  else if (w * 10 < h * 16)
    vh = (w * 10 + 8) / 16;
  viewport[0] = static_cast<int>((w - vw) / 2);
  viewport[1] = static_cast<int>((h - vh) / 2);
  viewport[2] = static_cast<int>(vw);
  viewport[3] = static_cast<int>(vh);
}
