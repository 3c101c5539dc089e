// keyboard and mouse: the key table, and the pointer placed and measured as the camera needs it.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "presentation/keyboard.h"
#include "presentation/mouse.h"
#include "presentation/platform.h"

using pair = std::pair<float, float>;
static std::vector<pair> warps;

TEST(Input, KeysFollowPressesAndThePointerIsPlacedThenMeasuredVerticalFirst) {
  keyboardhdl k;
  for (unsigned char key : {'g', '\xff'}) k.keydown(key);
  for (unsigned char key : {'g', 's'}) k.keyup(key);
  EXPECT_EQ(std::vector<int>({k.keystate['g'], k.keystate[255], k.keystate['s']}),
            std::vector<int>({0, 1, 0}));

  warps.clear();
  movepointer = [](float x, float y) { warps.push_back({x, y}); };
  auto delta = [](vec d) { return pair(d.x, d.y); };
  mousehdl m;
  m.init(200, 600, 800);  // height before width
  EXPECT_EQ(delta(m.getdelta(500, 300)), pair(0, 25));
  EXPECT_EQ(delta(m.getdelta(500, 300)), pair(0, 0));
  EXPECT_EQ(delta(m.getdelta(500, 240)), pair(-20, 0));  // upward motion: negative pitch
  EXPECT_EQ(delta(m.getdelta(vec(400.5f, 480))), pair(80, -24.875f));
  m.setmouseloc(vec(10.75f, 20.5f));
  // Measuring never moves the pointer; positions are kept in whole pixels.
  EXPECT_EQ(warps, (std::vector<pair>{{400, 300}, {10.75f, 20.5f}}));
  EXPECT_EQ(delta(m.getdelta(10, 20)), pair(0, 0));
}
