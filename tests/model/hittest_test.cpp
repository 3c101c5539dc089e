// From a click to a cell: the geometry back through turn and shift, its edges, and real clicks
// on a drawn PICK frame, turned and shifted, including the window's edges.
#include <gtest/gtest.h>
#include <cmath>
#include <GL/glu.h>
#include "tests/model/mapgl.h"

namespace {

std::pair<double, double> grid(double ox, double oy, float rotation, vec pos = vec()) {
  return gridposition(ox, oy, rotation, pos, 0.7f, 0.7f, 5, 5);
}

}  // namespace

TEST(GridPosition, UndoesTurnAndShiftInEveryQuadrant) {
  EXPECT_EQ(gridcell(grid(0, 0, 0).first, grid(0, 0, 0).second, 5), 12);
  std::pair<double, double> g = grid(0, 0.1, 90);  // (0, d) turned back by 90 degrees: (d, 0)
  EXPECT_NEAR(g.first, 5 * 0.45 / 0.7, 1e-6);
  EXPECT_NEAR(g.second, 2.5, 1e-6);
  for (double ox : {-0.2, 0.2})
    for (double oy : {-0.1, 0.0, 0.1}) {
      g = grid(ox, oy, 180);  // half a turn: the opposite point
      EXPECT_NEAR(g.first, 5 * (-ox + 0.35) / 0.7, 1e-6) << ox << "," << oy;
      EXPECT_NEAR(g.second, 5 * (-oy + 0.35) / 0.7, 1e-6) << ox << "," << oy;
    }
  // Under a layer shifted one cell right, the hole of column c shows column c - 1; column 0's
  // hole shows the strip left of the grid, which truncates into column 0.
  const vec right(0.14f, 0, 0);
  EXPECT_EQ(static_cast<int>(grid(0.14, 0, 0, right).first), 2);
  EXPECT_EQ(gridcell(grid(-0.28, 0, 0, right).first, 2.5, 5), 2);
}

TEST(GridCell, TruncatesTowardZeroAndHoldsFarOffPositions) {
  EXPECT_EQ(gridcell(-0.5, 2.5, 5), 2);
  EXPECT_EQ(gridcell(-1.5, 0.5, 5), -5);
  EXPECT_EQ(gridcell(2.5, 5.5, 5), 15);  // row 5 runs on into the next column
  for (double far : {1e300, -1e300, std::nan(""), 3e9}) {
    const int cell = gridcell(far, far, 5);
    EXPECT_TRUE(cell < 0 || cell >= 25) << far;
    EXPECT_EQ(cell, gridcell(far, far, 5));
  }
}

class Clicks : public testing::Test {
 protected:
  static constexpr int w = 640, h = 400;
  void SetUp() override {
    ASSERT_TRUE(programgl(w, h));
    laidout(m, 4, 4);
  }
  // Draws the PICK frame and gives the window point over the centre of a cell of the under layer.
  bool screenpoint(int cell, double* x, double* y) {
    GLdouble mv[16], pr[16], z;
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    const double ux = 0.7 * (cell / 5 + 0.5) / 5 - 0.35 + m.map_pos.x;
    const double uy = 0.7 * (cell % 5 + 0.5) / 5 - 0.35 + m.map_pos.y;
    const double a = m.rotation * M_PI / 180;
    gluProject(ux * cos(a) - uy * sin(a), ux * sin(a) + uy * cos(a), 0, mv, pr, vp, x, y, &z);
    return *x > 2 && *x < vp[0] + vp[2] - 2 && *y > vp[1] + 2 && *y < vp[1] + vp[3] - 2;
  }
  int expected(int cell) {
    for (gen_node<int>* n = m.target_cells.head; n; n = n->next)
      if (n->value == cell) return 0;
    for (gen_node<int>* n = m.distract_cells.head; n; n = n->next)
      if (n->value == cell) return 1;
    return 2;
  }
  maphdl m;
};

TEST_F(Clicks, CellCentresOfATurnedAndShiftedFrameGiveTheirCellsOnce) {
  struct view {
    float rotation;
    vec shift;
  };
  for (view v : {view{0, vec()}, view{90, vec(1, 0, 0)}, view{-45, vec(0, -1, 0)},
                 view{200, vec(-1, 0, 0)}}) {
    m.shift_step = v.shift;
    m.finishshift();
    m.rotation = v.rotation;
    m.clicked_cells.clear();
    m.clicks.clear();
    beginframe();
    m.render(4);
    int checked = 0;
    for (int cell = 0; cell < 25; cell++) {
      double x, y;
      if (!screenpoint(cell, &x, &y)) continue;
      checked++;
      EXPECT_EQ(m.checkclick(x, y), expected(cell)) << v.rotation << ": cell " << cell;
      EXPECT_EQ(m.checkclick(x, y), 3) << v.rotation << ": cell " << cell;  // the release
      EXPECT_EQ(static_cast<int>(m.clicks.back().first), cell / 5);
      EXPECT_EQ(static_cast<int>(m.clicks.back().second), cell % 5);
    }
    EXPECT_GE(checked, 15) << v.rotation;
    EXPECT_EQ(m.clicks.size(), 2u * checked);
  }
}

TEST_F(Clicks, TheTopRowAndABandBesideThePictureReadADrawnDepth) {
  beginframe();
  m.render(4);
  m.checkclick(w / 2, h - 1);
  m.checkclick(w / 2, h);  // the toolkit's row 0, one row above the framebuffer
  EXPECT_NEAR(m.clicks[1].second, m.clicks[0].second, 0.05);

  // A letterboxed picture: nothing is drawn in the band below it, where the depth is the far one.
  glViewport(0, 100, w, h - 100);
  beginframe();
  m.render(4);
  m.checkclick(w / 2, 20);
  EXPECT_LT(m.clicks.back().second, 0);
  EXPECT_GT(m.clicks.back().second, -20);
  glViewport(0, 0, w, h);
}
