// map_hittest: checkclick, from a click in the window to a cell of the running trial's grid
// and what that cell holds. The screen part (depth read-back, un-projection) is here; the
// geometry back to the grid is pure. Scoring the answer is the mouse callback's.
#include <algorithm>
#include <climits>
#include <cmath>
#include <GL/glu.h>
#include "model/map.h"

namespace {

const double pi = 3.1415926535898;

// Grid positions beyond this many cells are far off the board; holding them here keeps
// column * num_y + row inside an int for any grid the settings can describe.
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
  const double x = r * std::cos(theta);
  const double y = r * std::sin(theta);
  const double gx = num_x * (x - map_pos.x + map_width / 2.0) / map_width;
  const double gy = num_y * (y - map_pos.y + map_height / 2.0) / map_height;
  return {gx, gy};
}

int gridcell(double gx, double gy, int num_y) {
  const long long column = static_cast<long long>(hold(gx));
  const long long row = static_cast<long long>(hold(gy));
  const long long cell = column * num_y + row;
  return static_cast<int>(std::clamp<long long>(cell, INT_MIN, INT_MAX));
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
  const int cell = gridcell(gx, gy, num_y);
  clicks.emplace_back(static_cast<float>(gx), static_cast<float>(gy));
  click_column = static_cast<int>(gx);  // held above, so within an int
  click_row = static_cast<int>(gy);

  if (!clicked_cells.sadd(cell)) return 3;
  for (gen_node<int>* n = target_cells.head; n; n = n->next)
    if (n->value == cell) return 0;
  for (gen_node<int>* n = distract_cells.head; n; n = n->next)
    if (n->value == cell) return 1;
  return 2;
}
