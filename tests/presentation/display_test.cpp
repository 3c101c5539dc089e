// display: the clock every phase is timed on, the frame-rate estimate that paces the animations,
// the 16:10 picture area, and text that lands where it should in the colour asked for.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <ctime>
#include <vector>

#include "presentation/camera.h"
#include "presentation/display.h"
#include "tests/support/glcontext.h"

namespace {

double fake_now;
double fakeclock() {
  return fake_now;
}

TEST(Display, ClockCountsFromStartAndFrameRateIsSampledPerTenth) {
  double (*saved)() = display_clock;
  display_clock = fakeclock;
  displayhdl d{};
  d.frame_count = 99;
  fake_now = 5000;
  d.startclock();
  EXPECT_EQ(d.frame_count, 0);
  auto at = [&](double since_start, double frames) {
    fake_now = 5000 + since_start;
    d.frame_count = frames;
    return d.getfps();
  };
  EXPECT_EQ(at(0.05, 3), 0);  // still the first tenth: no sample yet
  EXPECT_NEAR(d.gettime(), 0.05, 1e-9);
  EXPECT_DOUBLE_EQ(at(2.5, 150), 60);
  EXPECT_DOUBLE_EQ(at(2.58, 160), 60);  // same tenth: the last value, only time moves
  EXPECT_NEAR(d.time, 2.58, 1e-9);
  EXPECT_DOUBLE_EQ(at(12.5, 450), 30);  // after a pause: the mean over the pause
  at(12.69, 460);
  EXPECT_NEAR(at(12.71, 461), 50, 1e-3);  // a new tenth is a new sample, however close
  display_clock = saved;

  timespec before, after;
  clock_gettime(CLOCK_MONOTONIC, &before);
  double now = display_clock();
  clock_gettime(CLOCK_MONOTONIC, &after);
  EXPECT_GE(now, before.tv_sec + before.tv_nsec * 1e-9 - 1e-6);  // the default is monotonic
  EXPECT_LE(now, after.tv_sec + after.tv_nsec * 1e-9 + 1e-6);
}

std::vector<int> fit(int w, int h) {
  int v[4];
  fitviewport(w, h, v);
  return {v[0], v[1], v[2], v[3]};
}

TEST(Display, PictureAreaIsTheLargestCentred16By10) {
  EXPECT_EQ(fit(1280, 800), (std::vector<int>{0, 0, 1280, 800}));
  EXPECT_EQ(fit(1280, 1024), (std::vector<int>{0, 112, 1280, 800}));
  EXPECT_EQ(fit(3840, 1080), (std::vector<int>{1056, 0, 1728, 1080}));
  EXPECT_EQ(fit(-5, 0), (std::vector<int>{0, 0, 0, 0}));
  for (int w = 1; w < 300; w += 7)
    for (int h = 1; h < 300; h += 5) {
      std::vector<int> v = fit(w, h);
      ASSERT_TRUE(v[2] == w || v[3] == h) << w << "x" << h;
      ASSERT_TRUE(v[0] + v[2] <= w && w - v[2] - 2 * v[0] <= 1) << w << "x" << h;  // centred
      ASSERT_TRUE(v[1] + v[3] <= h && h - v[3] - 2 * v[1] <= 1) << w << "x" << h;
      // The side that does not fill the window is the nearest whole pixel to 16:10.
      ASSERT_LE(std::abs(10 * v[2] - 16 * v[3]), w * 10 > h * 16 ? 5 : 8) << w << "x" << h;
    }
}

// Stands in for the toolkit's font: a solid 9x15 block that advances like it.
void blockglyph(int) {
  static const std::vector<unsigned char> solid(2 * 15, 0xff);
  glBitmap(9, 15, 0, 0, 9, 0, solid.data());
}

// Lowest row, leftmost column and width of the white pixels of a w x h frame; -1, -1, 0 if none.
std::vector<int> whitebox(int w, int h) {
  std::vector<unsigned char> px(w * h * 4);
  glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  int row = -1, left = w, right = -1;
  for (int i = 0; i < w * h; ++i)
    if (px[4 * i] > 250 && px[4 * i + 1] > 250 && px[4 * i + 2] > 250) {
      if (row < 0) row = i / w;
      left = std::min(left, i % w);
      right = std::max(right, i % w);
    }
  return {row, right < 0 ? -1 : left, right - left + 1 > 0 ? right - left + 1 : 0};
}

TEST(Display, TextStandsAtItsWindowFractionUntexturedAndLeavesTheMatrix) {
  const int W = 320, H = 200;
  ASSERT_TRUE(makeglcontext(W, H));
  void (*saved)(int) = display_glyph;
  display_glyph = blockglyph;
  cam.init();
  // What the map leaves behind: a green texture bound and texturing on.
  GLuint tex;
  const unsigned char green[4] = {0, 255, 0, 255};
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, green);
  glEnable(GL_TEXTURE_2D);
  glRotatef(30, 0, 1, 0);
  float before[16], after[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, before);
  glClear(GL_COLOR_BUFFER_BIT);
  glColor3f(1, 0, 0);  // the raster position must take the text's colour, not this one
  display.renderstring2d("ab", 1, 1, 1, 0.5f, 0.5f);
  glGetFloatv(GL_MODELVIEW_MATRIX, after);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(before[i], after[i]) << i;
  std::vector<int> box = whitebox(W, H);
  EXPECT_NEAR(box[0], 0.4925 * H, 1.0);  // baseline at 49.25 % of the height
  EXPECT_NEAR(box[1], W / 2, 1.0);
  EXPECT_EQ(box[2], 18);  // both characters, side by side

  glClear(GL_COLOR_BUFFER_BIT);
  display.renderstring2d("WATCH", 1, 1, 1, 0, 0.92f);  // phase labels start at the left edge
  EXPECT_EQ(whitebox(W, H), (std::vector<int>{int(0.92 * 0.985 * H), 0, 45}));

  glClear(GL_COLOR_BUFFER_BIT);
  display.renderstring2d("", 0.25f, 0.5f, 0.75f, 0, 0);
  float colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_EQ(std::vector<float>(colour, colour + 3), (std::vector<float>{0.25f, 0.5f, 0.75f}));
  EXPECT_EQ(whitebox(W, H)[2], 0);
  display_glyph = saved;
  glDeleteTextures(1, &tex);
}

TEST(Display, TextShowsOverNearerDrawingAndLeavesDepthAlone) {
  const int W = 320, H = 200;
  ASSERT_TRUE(makeglcontext(W, H));
  void (*saved)(int) = display_glyph;
  display_glyph = blockglyph;
  cam.init();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  // A depth of 0 everywhere stands for the swaying map tilted nearer than the text's plane.
  glClearDepth(0.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  display.renderstring2d("WATCH", 1, 1, 1, 0, 0.92f);
  EXPECT_EQ(whitebox(W, H)[2], 45);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));  // the map's depth test is back on afterwards
  float depth = -1;
  glReadPixels(2, int(0.92 * 0.985 * H) + 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  EXPECT_EQ(depth, 0.0f);  // clicks read this buffer: text must not write into it
  glClearDepth(1.0);
  glDisable(GL_DEPTH_TEST);
  display_glyph = saved;
}

}  // namespace
