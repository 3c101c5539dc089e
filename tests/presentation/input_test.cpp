// keyboard and mouse: the key table follows presses and releases, and the pointer is placed and
// measured in the order and scale the camera's angles take.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "presentation/keyboard.h"
#include "presentation/mouse.h"
#include "presentation/pointer.h"

namespace {

std::vector<std::pair<float, float>> warps;
void recordwarp(float x, float y) {
  warps.push_back({x, y});
}

class Pointer : public testing::Test {
 protected:
  void SetUp() override {
    saved = movepointer;
    movepointer = recordwarp;
    warps.clear();
  }
  void TearDown() override { movepointer = saved; }
  void (*saved)(float, float);
};

TEST(Keyboard, TableFollowsPressesAndReleases) {
  keyboardhdl k;
  for (int i = 0; i < 256; ++i) ASSERT_EQ(k.keystate[i], 0);
  k.keydown('g');
  k.keydown(255);
  k.keydown(0);
  EXPECT_EQ(k.keystate[103], 1);
  EXPECT_EQ(k.keystate[255], 1);
  EXPECT_EQ(k.keystate[104], 0);
  k.keyup('g');
  k.keyup('s');
  EXPECT_EQ(k.keystate[103], 0);
  EXPECT_EQ(k.keystate['s'], 0);
  EXPECT_EQ(k.keystate[0], 1);
}

TEST_F(Pointer, InitPlacesThePointerAtTheWindowCentre) {
  mousehdl m;
  EXPECT_EQ(m.sensitivity, 1);
  m.init(200, 600, 799);  // height before width
  EXPECT_EQ(m.win_h, 600);
  EXPECT_EQ(m.win_w, 799);
  EXPECT_EQ(m.sensitivity, 200);
  ASSERT_EQ(warps.size(), 1u);
  EXPECT_EQ(warps[0], std::make_pair(399.0f, 300.0f));
  EXPECT_EQ(m.last_x, 399);
  EXPECT_EQ(m.last_y, 300);

  m.setmouseloc(vec(10.75f, 20.5f, 7, 7));
  EXPECT_EQ(warps.back(), std::make_pair(10.75f, 20.5f));
  EXPECT_EQ(m.last_x, 10);
  EXPECT_EQ(m.last_y, 20);
}

TEST_F(Pointer, DeltaIsVerticalThenHorizontalScaledByTheWindow) {
  mousehdl m;
  m.init(200, 600, 800);
  EXPECT_EQ(warps.back(), std::make_pair(400.0f, 300.0f));
  vec d = m.getdelta(500, 300);
  EXPECT_FLOAT_EQ(d.x, 0);
  EXPECT_FLOAT_EQ(d.y, 25);
  d = m.getdelta(500, 300);
  EXPECT_FLOAT_EQ(d.y, 0);
  d = m.getdelta(500, 240);  // upward motion: negative pitch
  EXPECT_FLOAT_EQ(d.x, -20);
  EXPECT_FLOAT_EQ(d.y, 0);
  d = m.getdelta(vec(400.5f, 480.0f, 3, 3));
  EXPECT_FLOAT_EQ(d.x, 80);
  EXPECT_FLOAT_EQ(d.y, -24.875f);
  EXPECT_EQ(d.z, 0);
  EXPECT_EQ(d.w, 0);
  EXPECT_EQ(m.last_x, 400);
  EXPECT_EQ(warps.size(), 1u);  // measuring never moves the pointer
}

}  // namespace
