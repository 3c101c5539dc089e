// display: window size, on-screen text, the program's clock and the frame-rate estimate.
// Owns the clock every phase length is measured on; the phase loop advances frame_count.
#pragma once

class displayhdl {
 public:
  int width;           // window width, pixels
  int height;          // window height, pixels
  double time;         // seconds since init, as of the last gettime()
  double start_time;   // clock reading at init, seconds
  double fps_time;     // time of the last frame-rate sample, seconds since init
  double frame_count;  // frames drawn so far; never reset
  double fps;          // last frame-rate estimate, frames per second
  double fps_frames;   // frame_count at the last frame-rate sample

  void init();           // window size from the toolkit, clock at zero
  void startclock();     // the clock part of init: clock, frame counter and estimate at zero
  void resetwindsize();  // window size from the toolkit again
  // Text in the 9x15 bitmap font at window fractions (x, y) of the picture area.
  void renderstring2d(const char* text, float r, float g, float b, float x, float y);
  // Text at the point (x, y, z) of the current frame. Both leave the enabled capabilities and
  // the matrices as they found them.
  void renderstring3d(const char* text, float r, float g, float b, float x, float y, float z);
  double gettime();  // seconds since init; also stored in `time`
  double getfps();   // frame-rate estimate, refreshed at most once per tenth of a second
};

extern displayhdl display;

// The clock source, in seconds. A monotonic clock by default, so that a change of the wall
// clock can neither stretch nor cut a phase; tests put a clock of their own here.
extern double (*display_clock)();

// On the desktop, draws one character at the current raster position and moves that position
// on by the character's width: the toolkit's 9x15 bitmap font by default; tests, which have no
// toolkit, put a glyph of their own here (platform_desktop.cpp).
extern void (*display_glyph)(int character);

// The picture area for a window: the largest centred 16:10 rectangle, as x, y, width, height.
// The projection and the text placement are made for 16:10; anything else would stretch the board.
void fitviewport(int window_width, int window_height, int viewport[4]);
