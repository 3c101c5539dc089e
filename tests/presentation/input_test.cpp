// keyboard and mouse: the key table follows presses and releases; the pointer is placed through
// the platform layer and measured in the order and scale the camera's angles take.
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

void expectdelta(vec d, float vertical, float horizontal) {
  EXPECT_FLOAT_EQ(d.x, vertical);
  EXPECT_FLOAT_EQ(d.y, horizontal);
  EXPECT_EQ(d.z + d.w, 0);
}

TEST(Keyboard, TableFollowsPressesAndReleases) {
  keyboardhdl k;
  k.keydown('g');
  k.keydown(255);
  EXPECT_EQ(k.keystate[103] + k.keystate[255], 2);
  k.keyup('g');
  k.keyup('s');
  EXPECT_EQ(k.keystate[103] + k.keystate['s'], 0);
}

TEST(Pointer, PlacedAtTheCentreThenMeasuredVerticalFirst) {
  void (*saved)(float, float) = movepointer;
  movepointer = recordwarp;
  mousehdl m;
  m.init(200, 600, 799);  // height before width
  EXPECT_EQ(warps.back(), std::make_pair(399.0f, 300.0f));
  m.init(200, 600, 800);
  EXPECT_EQ(warps.back(), std::make_pair(400.0f, 300.0f));
  expectdelta(m.getdelta(500, 300), 0, 25);
  expectdelta(m.getdelta(500, 300), 0, 0);
  expectdelta(m.getdelta(500, 240), -20, 0);  // upward motion: negative pitch
  expectdelta(m.getdelta(vec(400.5f, 480, 3, 3)), 80, -24.875f);
  EXPECT_EQ(m.last_x, 400);
  m.setmouseloc(vec(10.75f, 20.5f, 7, 7));
  EXPECT_EQ(warps.back(), std::make_pair(10.75f, 20.5f));
  EXPECT_EQ(warps.size(), 3u);  // measuring never moves the pointer
  expectdelta(m.getdelta(10, 20), 0, 0);
  movepointer = saved;
}

}  // namespace
