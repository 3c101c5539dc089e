// Drawing the phases over frames at a controlled frame rate: the slide, the turn, WAIT, the
// matrices left for the click test, and no under layer beyond the top layer after the shift.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "presentation/display.h"
#include "tests/model/mapgl.h"

namespace {

double now;
double fakeclock() {
  return now;
}

const int fb_w = 320, fb_h = 200;

class Render : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(programgl(fb_w, fb_h));
    saved = display_clock;
    display_clock = fakeclock;
    now = 100;
    display.startclock();
    now = 110;  // ten seconds of idle screen at 60 frames a second
    display.frame_count = 600;
    laidout(m, 2, 2);
  }
  void TearDown() override { display_clock = saved; }

  // Draws `frames` frames of a phase at 60 frames a second, as the phase loop paces them.
  void run(int phase, int frames) {
    for (int i = 0; i < frames; i++) {
      now += 1.0 / 60;
      beginframe();
      m.render(phase);
      display.frame_count += 1;
    }
  }

  std::vector<unsigned char> pixels() {
    std::vector<unsigned char> px(fb_w * fb_h * 4);
    glReadPixels(0, 0, fb_w, fb_h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
  }

  double (*saved)();
  maphdl m;
};

}  // namespace

TEST_F(Render, InstantShiftTakesTheWholeStepOnTheFirstFrame) {
  m.instant_shift = true;
  m.shift_dir = m.shift_step = vec(0, -1, 0);
  run(1, 1);
  EXPECT_FLOAT_EQ(m.map_pos.y, -0.14f);
  EXPECT_EQ(m.shift_dir.y, 0);
  run(1, 5);
  EXPECT_FLOAT_EQ(m.map_pos.y, -0.14f);
  m.finishshift();
  EXPECT_FLOAT_EQ(m.map_pos.y, -0.14f);
  EXPECT_EQ(m.map_pos.x, 0);
}

TEST_F(Render, AnimatedShiftStepsByTheFrameRateAndEndsExactlyOneCellOn) {
  m.shift_dir = m.shift_step = vec(1, 0, 0);
  run(1, 1);  // the first estimate: 60 frames a second since the clock started
  EXPECT_NEAR(m.map_pos.x, 0.14 / 120, 1e-5);
  run(1, 60);
  EXPECT_NEAR(m.map_pos.x, 0.14 * 61 / 120, 0.002);
  m.finishshift();
  EXPECT_FLOAT_EQ(m.map_pos.x, 0.14f);
  EXPECT_EQ(m.map_pos.y, 0);
  m.num_y = 7;  // rows are a seventh of the height: a y step is one row, not one column
  m.shift_step = vec(0, 1, 0);
  m.finishshift();
  EXPECT_FLOAT_EQ(m.map_pos.y, 0.1f);
}

TEST_F(Render, RotationGrowsInRotateAndIsExactInWaitBlankOrNot) {
  m.rotate_angle = -90;
  run(2, 119);
  EXPECT_NEAR(m.rotation, -90, 1.5);
  run(3, 1);
  EXPECT_EQ(m.rotation, -90);
  std::vector<unsigned char> drawn = pixels();
  m.blank_wait = 1;
  m.rotation = 3;
  run(3, 1);
  EXPECT_EQ(m.rotation, -90);
  std::vector<unsigned char> blank = pixels();
  EXPECT_EQ(blank, std::vector<unsigned char>(blank.size(), 0));
  EXPECT_NE(drawn, blank);
}

TEST_F(Render, EveryPhaseLeavesOnlyTheStepBackForTheClickTest) {
  for (int phase : {0, 1, 2, 3, 4, 5, -1}) {
    m.rotation = 30;
    m.map_pos = vec(0.14f, 0, 0);
    run(phase, 1);
    GLfloat mv[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    const GLfloat back[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -1, 1};
    if (phase != 0) {
      EXPECT_EQ(memcmp(mv, back, sizeof mv), 0) << phase;
    }
    std::vector<unsigned char> px = pixels();
    const bool drawn = px != std::vector<unsigned char>(px.size(), 0);
    EXPECT_EQ(drawn, phase >= 0 && phase <= 4) << phase;
  }
}

TEST_F(Render, NoUnderLayerShowsBeyondTheTopLayerAfterTheShift) {
  // A red under layer over a blue background: beyond the top layer only blue may show.
  for (size_t i = 0; i < 512 * 512 * 4; i += 4) {
    const unsigned char red[4] = {255, 0, 0, 255}, blue[4] = {0, 0, 255, 255};
    memcpy(m.under_tex.data + i, red, 4);
    memcpy(m.background_tex.data + i, blue, 4);
  }
  upload(&m.under_tex);
  upload(&m.background_tex);
  // One cell right, unturned: the under layer reaches 0.525 right of the centre, the top layer
  // 0.418; turned by 90 degrees the same band lies above the centre.
  struct view {
    float rotation;
    int x0, x1, y0, y1;  // the band beyond the top layer's edge, in pixels
  };
  for (view v : {view{0, 248, 262, 50, 150}, view{90, 110, 210, 187, 197}}) {
    m.shift_step = vec(1, 0, 0);
    m.finishshift();
    m.rotation = v.rotation;
    run(4, 1);
    std::vector<unsigned char> px = pixels();
    int red = 0, blue = 0;
    for (int y = v.y0; y < v.y1; y++)
      for (int x = v.x0; x < v.x1; x++) {
        red += px[(y * fb_w + x) * 4] > 128;
        blue += px[(y * fb_w + x) * 4 + 2] > 128;
      }
    EXPECT_EQ(red, 0) << v.rotation;
    EXPECT_EQ(blue, (v.x1 - v.x0) * (v.y1 - v.y0)) << v.rotation;
  }
}
