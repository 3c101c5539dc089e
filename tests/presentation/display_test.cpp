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

class Clock : public testing::Test {
 protected:
  void SetUp() override {
    saved = display_clock;
    display_clock = fakeclock;
    fake_now = 5000;
    d.startclock();
  }
  void TearDown() override { display_clock = saved; }
  void at(double seconds_since_start, double frames) {
    fake_now = 5000 + seconds_since_start;
    d.frame_count = frames;
  }
  double (*saved)();
  displayhdl d{};
};

TEST_F(Clock, TimeCountsFromStart) {
  at(2.5, 0);
  EXPECT_DOUBLE_EQ(d.gettime(), 2.5);
  EXPECT_DOUBLE_EQ(d.time, 2.5);
  d.frame_count = 99;
  d.startclock();
  EXPECT_EQ(d.frame_count, 0);
  EXPECT_DOUBLE_EQ(d.gettime(), 0);
}

TEST_F(Clock, FrameRateIsSampledPerTenthOfASecond) {
  at(0.05, 3);
  EXPECT_EQ(d.getfps(), 0);  // still the first tenth: no sample yet
  at(2.5, 150);
  EXPECT_DOUBLE_EQ(d.getfps(), 60);
  at(2.58, 160);  // same tenth: the last value, only time moves
  EXPECT_DOUBLE_EQ(d.getfps(), 60);
  EXPECT_NEAR(d.time, 2.58, 1e-9);
  EXPECT_DOUBLE_EQ(d.fps_time, 2.5);
  EXPECT_DOUBLE_EQ(d.fps_frames, 150);
  at(12.5, 450);  // after a pause: the mean over the pause, not since start
  EXPECT_DOUBLE_EQ(d.getfps(), 30);
  at(12.69, 460);
  d.getfps();
  at(12.71, 461);  // a new tenth is a new sample, however short the interval
  EXPECT_NEAR(d.getfps(), 50, 1e-3);
}

TEST(DisplayClock, DefaultIsMonotonic) {
  timespec before, after;
  clock_gettime(CLOCK_MONOTONIC, &before);
  double now = display_clock();
  clock_gettime(CLOCK_MONOTONIC, &after);
  EXPECT_GE(now, before.tv_sec + before.tv_nsec * 1e-9 - 1e-6);
  EXPECT_LE(now, after.tv_sec + after.tv_nsec * 1e-9 + 1e-6);
}

std::vector<int> fit(int w, int h) {
  int v[4];
  fitviewport(w, h, v);
  return {v[0], v[1], v[2], v[3]};
}

TEST(FitViewport, LargestCentred16By10) {
  EXPECT_EQ(fit(1280, 800), (std::vector<int>{0, 0, 1280, 800}));
  EXPECT_EQ(fit(1280, 1024), (std::vector<int>{0, 112, 1280, 800}));
  EXPECT_EQ(fit(1024, 768), (std::vector<int>{0, 64, 1024, 640}));
  EXPECT_EQ(fit(3840, 1080), (std::vector<int>{1056, 0, 1728, 1080}));
  EXPECT_EQ(fit(0, 0), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(fit(-5, 10), (std::vector<int>{0, 5, 0, 0}));
  for (int w = 1; w < 300; w += 7)
    for (int h = 1; h < 300; h += 5) {
      std::vector<int> v = fit(w, h);
      ASSERT_TRUE(v[2] == w || v[3] == h) << w << "x" << h;  // one side fills the window
      ASSERT_LE(v[0] + v[2], w);
      ASSERT_LE(v[1] + v[3], h);
      ASSERT_LE(w - v[2] - 2 * v[0], 1);  // centred within a pixel
      ASSERT_LE(h - v[3] - 2 * v[1], 1);
      // The side that does not fill the window is the nearest whole pixel to 16:10.
      ASSERT_LE(std::abs(10 * v[2] - 16 * v[3]), w * 10 > h * 16 ? 5 : 8) << w << "x" << h;
    }
}

// Stands in for the toolkit's font: a solid 9x15 block that advances like it.
void blockglyph(int) {
  static const std::vector<unsigned char> solid(2 * 15, 0xff);
  glBitmap(9, 15, 0, 0, 9, 0, solid.data());
}

class Text : public testing::Test {
 protected:
  static const int W = 320, H = 200;
  void SetUp() override {
    ASSERT_TRUE(makeglcontext(W, H));
    saved = display_glyph;
    display_glyph = blockglyph;
    cam.init();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  void TearDown() override { display_glyph = saved; }
  // Lowest row, leftmost column and number of columns holding white pixels; -1 when none.
  void whitebox(int& row, int& col, int& cols) {
    std::vector<unsigned char> px(W * H * 4);
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    row = col = -1;
    int right = -1;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const unsigned char* p = &px[(y * W + x) * 4];
        if (p[0] < 250 || p[1] < 250 || p[2] < 250) continue;
        if (row < 0) row = y;
        if (col < 0 || x < col) col = x;
        if (x > right) right = x;
      }
    cols = col < 0 ? 0 : right - col + 1;
  }
  void (*saved)(int);
};

TEST_F(Text, StandsAtItsWindowFractionInItsOwnColourUntextured) {
  // What the map leaves behind: a green texture bound and texturing on.
  GLuint tex;
  const unsigned char green[4] = {0, 255, 0, 255};
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, green);
  glEnable(GL_TEXTURE_2D);
  glRotatef(30, 0, 1, 0);
  glTranslatef(0.5f, 0, -2);
  float before[16], after[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, before);

  display.renderstring2d("ab", 1, 1, 1, 0.5f, 0.5f);

  glGetFloatv(GL_MODELVIEW_MATRIX, after);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(before[i], after[i]) << i;
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  int row, col, cols;
  whitebox(row, col, cols);
  EXPECT_NEAR(row, 0.4925 * H, 1.0);  // baseline at 49.25 % of the height
  EXPECT_NEAR(col, W / 2, 1.0);
  EXPECT_EQ(cols, 18);  // both characters, side by side
  glDeleteTextures(1, &tex);
}

TEST_F(Text, LabelsAtTheLeftEdgeAreDrawnAndEmptyTextOnlySetsState) {
  display.renderstring2d("WATCH", 1, 1, 1, 0, 0.92f);
  int row, col, cols;
  whitebox(row, col, cols);
  EXPECT_EQ(col, 0);
  EXPECT_EQ(cols, 45);

  glClear(GL_COLOR_BUFFER_BIT);
  display.renderstring2d("", 0.25f, 0.5f, 0.75f, 0, 0);
  float colour[4], raster[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  glGetFloatv(GL_CURRENT_RASTER_POSITION, raster);
  EXPECT_FLOAT_EQ(colour[0], 0.25f);
  EXPECT_FLOAT_EQ(colour[1], 0.5f);
  EXPECT_FLOAT_EQ(colour[2], 0.75f);
  EXPECT_NEAR(raster[0], 0, 0.01);
  EXPECT_NEAR(raster[1], 0, 0.01);
  whitebox(row, col, cols);
  EXPECT_EQ(cols, 0);
}

}  // namespace
