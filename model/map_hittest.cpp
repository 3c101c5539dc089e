// map_hittest: checkclick, from a click in the window to a cell of the running trial's grid
// and what that cell holds. The screen part (depth read-back, un-projection) is here; the
// geometry back to the grid is pure. Scoring the answer is the mouse callback's.
#include <algorithm>
#include <cmath>
#include <tuple>
#include <GL/glu.h>
#include "model/map.h"

namespace {

const double pi = 3.1415926535898;

// Grid positions beyond this many cells are far off the board; holding them here keeps a
// column and a row inside an int.
const double far_off = 1 << 20;

double hold(double v) {
  if (!(v > -far_off)) return -far_off;  // also a NaN, from a matrix that cannot be inverted
  return std::min(v, far_off);
}

}  // namespace

std::pair<double, double> gridposition(double ox, double oy, float rotation, vec map_pos,
                                       float map_width, float map_height, int num_x, int num_y) {
  const float r = static_cast<float>(std::sqrt(ox * ox + oy * oy));
  float theta;
  if (ox > 0) {
    theta = static_cast<float>(std::atan(oy / ox));
  } else if (ox < 0) {
    theta = static_cast<float>(std::atan(oy / ox) + (oy >= 0 ? pi : -pi));
  } else {
    theta = oy > 0 ? 1.5707964f : oy < 0 ? -1.5707964f : 0.0f;
  }
  theta = static_cast<float>(theta - rotation * pi / 180);
  // The polar form is kept in single precision; the turned position is worked in double.
  const double x = static_cast<double>(r) * std::cos(static_cast<double>(theta));
  const double y = static_cast<double>(r) * std::sin(static_cast<double>(theta));
  const double gx = num_x * (x - map_pos.x + map_width / 2.0) / map_width;
  const double gy = num_y * (y - map_pos.y + map_height / 2.0) / map_height;
  return {gx, gy};
}

std::pair<int, int> gridcolrow(double gx, double gy) {
  return {static_cast<int>(std::floor(hold(gx))), static_cast<int>(std::floor(hold(gy)))};
}

bool ongrid(int column, int row, int num_x, int num_y) {
  return column >= 0 && column < num_x && row >= 0 && row < num_y;
}

int maphdl::checkclick(double x, double y) {
  GLdouble modelview[16], projection[16];
  GLint viewport[4];
  glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  glGetIntegerv(GL_VIEWPORT, viewport);

  // The depth is read inside the picture: a click on the window's top row (or in a band beside
  // a letterboxed picture) would otherwise read outside it and leave the depth unset.
  const int rx = std::clamp(static_cast<int>(hold(x)), viewport[0],
                            std::max(viewport[0], viewport[0] + viewport[2] - 1));
  const int ry = std::clamp(static_cast<int>(hold(y)), viewport[1],
                            std::max(viewport[1], viewport[1] + viewport[3] - 1));
  GLfloat depth = 1.0f;
  glReadPixels(rx, ry, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);

  GLdouble ox = 0, oy = 0, oz = 0;
  gluUnProject(x, y, depth, modelview, projection, viewport, &ox, &oy, &oz);

  std::pair<double, double> g =
      gridposition(ox, oy, rotation, map_pos, map_width, map_height, num_x, num_y);
  const double gx = hold(g.first), gy = hold(g.second);
  clicks.emplace_back(static_cast<float>(gx), static_cast<float>(gy));
  // Rounded down: on the grid this is the cell the position lies in, as cutting toward zero
  // would give; beside the grid it is a column or row outside it, never an edge cell.
  std::tie(click_column, click_row) = gridcolrow(gx, gy);
  if (!ongrid(click_column, click_row, num_x, num_y)) return click_off_grid;
  const int cell = click_column * num_y + click_row;

  if (!clicked_cells.sadd(cell)) return click_repeat;
  for (gen_node<int>* n = target_cells.head; n; n = n->next)
    if (n->value == cell) return click_target;
  for (gen_node<int>* n = distract_cells.head; n; n = n->next)
    if (n->value == cell) return click_distractor;
  return click_empty;
}
