// mouse: pointer placement and scaled pointer motion; see mouse.h.
// Moving the real pointer is left to the platform layer (platform.h), so this file is pure
// bookkeeping and runs in tests without a window.
#include "presentation/mouse.h"

#include <cassert>

#include "presentation/platform.h"

mousehdl mouse;

// The global starts zero-filled anyway; a local one must not start with garbage positions.
mousehdl::mousehdl() : last_x(0), last_y(0), win_h(0), win_w(0), sensitivity(1.0f) {}

mousehdl::~mousehdl() {}

void mousehdl::init(float sens, int height, int width) {
  sensitivity = sens;
  win_h = height;
  win_w = width;
  setmouseloc(win_w / 2, win_h / 2);
}

void mousehdl::setmouseloc(int x, int y) {
  movepointer(static_cast<float>(x), static_cast<float>(y));
  last_x = x;
  last_y = y;
}

void mousehdl::setmouseloc(vec p) {
  movepointer(p.x, p.y);
  last_x = static_cast<int>(p.x);
  last_y = static_cast<int>(p.y);
}

// Vertical motion first: the order of the camera's pitch and yaw angles.
vec mousehdl::getdelta(int x, int y) {
  assert(win_h != 0 && win_w != 0 && "call mouse.init with the window size before getdelta");
  vec d(sensitivity * static_cast<float>(y - last_y) / win_h,
        sensitivity * static_cast<float>(x - last_x) / win_w, 0, 0);
  last_x = x;
  last_y = y;
  return d;
}

vec mousehdl::getdelta(vec p) {
  assert(win_h != 0 && win_w != 0 && "call mouse.init with the window size before getdelta");
  vec d(sensitivity * (p.y - static_cast<float>(last_y)) / win_h,
        sensitivity * (p.x - static_cast<float>(last_x)) / win_w, 0, 0);
  last_x = static_cast<int>(p.x);
  last_y = static_cast<int>(p.y);
  return d;
}
