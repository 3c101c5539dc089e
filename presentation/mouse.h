// mouse: places the system pointer and measures its motion, scaled by the window size.
// The pointer itself is moved through the platform layer (movepointer, platform.h).
#pragma once
#include "foundation/vector.h"

class mousehdl {
 public:
  int last_x;         // pointer x last placed or measured, screen pixels from the left
  int last_y;         // pointer y last placed or measured, screen pixels from the top
  int win_h;          // window height, pixels: the scale of vertical motion
  int win_w;          // window width, pixels: the scale of horizontal motion
  float sensitivity;  // output units per full window of motion

  mousehdl();
  ~mousehdl();
  void init(float sensitivity, int height, int width);  // height before width
  void setmouseloc(int x, int y);
  void setmouseloc(vec p);
  vec getdelta(int x, int y);  // (vertical, horizontal, 0, 0) motion since the last position
  vec getdelta(vec p);
};

extern mousehdl mouse;
