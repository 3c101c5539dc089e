// Drawing the phases over frames at a controlled frame rate (the slide, the turn, WAIT, no under
// layer beyond the top layer), and from a click on a drawn PICK frame back to its cell.
#include "tests/model/modeltest.h"

using Render = glmap;

TEST_F(Render, ShiftsStepByTheFrameRateAndEndExactlyOneCellOn) {
  m.shift_dir = m.shift_step = vec(1, 0, 0);
  run(1);  // the first estimate: 60 frames a second since the clock started
  EXPECT_NEAR(m.map_pos.x, 0.14 / 120, 1e-5);
  m.finishshift();
  EXPECT_TRUE(m.map_pos.x == 0.14f && m.map_pos.y == 0);
  // An instant shift (the end-to-end run clicks through one) also ends one cell on; rows are a
  // seventh of the height here: a y step is one row, not one column.
  m.instant_shift = true;
  m.shift_dir = m.shift_step = vec(0, -1, 0);
  m.num_y = 7;
  run(1, 6);
  m.finishshift();  // from the step as drawn, not the direction the instant shift zeroed
  EXPECT_FLOAT_EQ(m.map_pos.y, -0.1f);
}

TEST_F(Render, RotationGrowsInRotateAndIsExactInWaitBlankOrNot) {
  m.rotate_angle = -90;
  run(2, 119);
  EXPECT_NEAR(m.rotation, -90, 1.5);
  run(3);
  EXPECT_EQ(m.rotation, -90);
  const std::vector<unsigned char> drawn = pixels();
  m.blank_wait = 1;
  m.rotation = 3;
  run(3);
  EXPECT_EQ(m.rotation, -90);
  EXPECT_EQ(pixels(), std::vector<unsigned char>(drawn.size(), 0));
  EXPECT_NE(drawn, pixels());
}

TEST_F(Render, NoUnderLayerShowsBeyondTheTopLayerAfterTheShift) {
  // A red under layer over a blue background: beyond the top layer only blue may show.
  for (int i = 0; i < map_tex_size * map_tex_size * 4; i++) {
    m.under_tex.data[i] = i % 4 == 0 || i % 4 == 3 ? 255 : 0;
    m.background_tex.data[i] = i % 4 >= 2 ? 255 : 0;
  }
  upload(&m.under_tex);
  upload(&m.background_tex);
  // Rotation, then the band x0, x1, y0, y1 between the shifted under layer's edge and the top's.
  for (std::vector<int> v : {std::vector<int>{0, 248, 262, 50, 150}, {45, 222, 231, 162, 171}}) {
    m.shift_step = vec(1, 0, 0);
    m.finishshift();
    m.rotation = v[0];
    run(4);
    const std::vector<unsigned char> px = pixels();
    int red = 0, blue = 0;
    for (int y = v[3]; y < v[4]; y++)
      for (int x = v[1]; x < v[2]; x++)
        red += px[(y * w + x) * 4] > 128, blue += px[(y * w + x) * 4 + 2] > 128;
    EXPECT_EQ(red, 0) << v[0];
    EXPECT_EQ(blue, (v[2] - v[1]) * (v[4] - v[3])) << v[0];
  }
}

TEST(HitTest, ColumnsAndRowsRoundDownAndFarOffPositionsStayFarOff) {
  EXPECT_EQ(gridcolrow(-0.5, 2.5), std::make_pair(-1, 2));  // toward zero would give column 0
  EXPECT_EQ(gridcolrow(4.999, -1e-9), std::make_pair(4, -1));
  for (double far : {1e300, -1e300, std::nan(""), 3e9, -3e9}) {
    const auto [c, r] = gridcolrow(far, far);
    EXPECT_TRUE(std::abs(c) >= 1 << 20 && std::abs(r) >= 1 << 20) << far;
  }
}

using Clicks = glmap;

TEST_F(Clicks, TheTopRowAndABandBesideThePictureReadADrawnDepth) {
  run(4);
  m.checkclick(w / 2, h - 1);
  m.checkclick(w / 2, h);  // the toolkit's row 0, one row above the framebuffer
  EXPECT_NEAR(m.clicks[1].second, m.clicks[0].second, 0.05);
  // A letterboxed picture: nothing is drawn in the band below it, where the depth is the far one.
  glViewport(0, 50, w, h - 50);
  run(4);
  m.checkclick(w / 2, 10);
  EXPECT_LT(m.clicks.back().second, 0);
  EXPECT_GT(m.clicks.back().second, -20);
}

// The browser cannot read the depth buffer: it finds the nearest layer by drawing the picture
// again with the layers told apart and meets that layer's plane. Over turned and shifted maps,
// with and without rings, magnified and minified, that lands in the cell the depth read gives,
// within 1e-4 of a cell, and leaves the GL drawing exactly as before.
TEST_F(Clicks, WithoutTheDepthBufferClicksLandWhereTheDepthReadPutsThem) {
  static bool (*const depthbuffer)(int, int, float*) = readdepth;
  const auto nodepth = [](int, int, float*) { return false; };
  m.num_targets = m.num_distracts = 4;
  m.borders = 1;
  unsigned random = 12345;  // a small generator of the test's own, for the click positions
  const auto uniform = [&random] { return (random = random * 1103515245u + 12345u) >> 8 & 0xffff; };
  int clicks = 0, layers[4] = {};
  double worst = 0;
  for (int map = 0; map < 20; map++) {
    const int width = map % 2 ? 1280 : 560, height = width * 10 / 16;  // magnified, minified
    ASSERT_TRUE(makeglcontext(width, height));
    m.borders = map % 3 != 0;
    m.reset_map();
    m.shift_step = correctshift(vec(map % 3 - 1, map / 3 % 3 - 1, 0));
    m.finishshift();
    m.rotation = map * 37.7f - 200;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    m.render(4);
    const std::vector<unsigned char> drawn(width * height * 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE,
                 const_cast<unsigned char*>(drawn.data()));
    for (int i = 0; i < 500; i++, clicks++) {
      // Most clicks over the board, where holes and rings lie; some anywhere in the picture.
      const double spread = i % 5 ? 0.3 : 1.0;
      const int x = static_cast<int>(width * (0.5 + spread * (uniform() / 65536.0 - 0.5)));
      const int y = static_cast<int>(height * (0.5 + spread * (uniform() / 65536.0 - 0.5)));
      readdepth = depthbuffer;
      m.clicked_cells.clear();
      m.checkclick(x, y);
      const auto [gx, gy] = m.clicks.back();
      const auto cell = gridcolrow(gx, gy);
      readdepth = nodepth;
      m.clicked_cells.clear();
      m.checkclick(x, y);
      layers[m.layerat(x, y)]++;
      const auto [bx, by] = m.clicks.back();
      ASSERT_EQ(gridcolrow(bx, by), cell) << x << "," << y << " on map " << map;
      worst = std::max({worst, std::fabs(double{bx} - gx), std::fabs(double{by} - gy)});
    }
    readdepth = depthbuffer;
    std::vector<unsigned char> again(drawn.size());
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    m.render(4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, again.data());
    ASSERT_TRUE(again == drawn) << "the hidden pass changed the drawing of map " << map;
  }
  EXPECT_EQ(clicks, 10000);
  EXPECT_LT(worst, 1e-4);
  // Every layer was met: the holes, the top layer and the background beside the board.
  EXPECT_TRUE(layers[layer_top] > 1000 && layers[layer_under] > 500 &&
              layers[layer_background] > 100)
      << layers[layer_top] << " " << layers[layer_under] << " " << layers[layer_background];
  printf("worst difference %.2e cells\n", worst);
}
