// map_hittest: checkclick, from a click in the window to a cell of the running trial's grid
// and what that cell holds. The screen part (the depth under the click, un-projection) is
// here; the geometry back to the grid is pure. Scoring the answer is the mouse callback's.
// Where the platform cannot read the depth buffer back (WebGL), the depth is worked out: the
// layer drawn nearest at the click is found by drawing the picture once more into a framebuffer
// of one pixel, each layer in a colour of its own, and the click's ray meets that layer's plane.
#define GL_GLEXT_PROTOTYPES
#include <algorithm>
#include <cmath>
#include <tuple>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include "model/map.h"
#include "presentation/platform.h"

namespace {

const double pi = 3.1415926535898;

// Grid positions beyond this many cells are far off the board; holding them here keeps a
// column and a row inside an int.
const double far_off = 1 << 20;

double hold(double v) {
  if (!(v > -far_off)) return -far_off;  // also a NaN, from a matrix that cannot be inverted
  return std::min(v, far_off);
}

// The hit test's framebuffer: one pixel of colour (a texture: WebGL has no 8-bit colour
// renderbuffer) and depth, made once and kept for the run.
GLuint pick_framebuffer, pick_colour, pick_depth;

void makepickbuffer() {
  glGenTextures(1, &pick_colour);
  glBindTexture(GL_TEXTURE_2D, pick_colour);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glGenRenderbuffers(1, &pick_depth);
  glBindRenderbuffer(GL_RENDERBUFFER, pick_depth);
  // Depth with stencil: the one depth format WebGL gives 24 bits, which the layers, a tenth of
  // a thousandth apart, need.
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_STENCIL, 1, 1);
  glGenFramebuffers(1, &pick_framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, pick_framebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, pick_colour, 0);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                            pick_depth);
}

}  // namespace

maplayer maphdl::layerat(int px, int py) {
  GLint framebuffer = 0, texture = 0, viewport[4];
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
  glGetIntegerv(GL_VIEWPORT, viewport);
  if (!pick_framebuffer) makepickbuffer();
  glBindFramebuffer(GL_FRAMEBUFFER, pick_framebuffer);
  // The picture as the window has it, moved so that pixel (px, py) falls on the buffer's one
  // pixel: the same matrices, viewport size and sampling, so the same fragments survive there.
  glViewport(viewport[0] - px, viewport[1] - py, viewport[2], viewport[3]);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // Colour from the layer's id, alpha from the texture as when drawn: the alpha test then
  // leaves the holes open exactly where the picture has them.
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
  glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_REPLACE);
  glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB, GL_CONSTANT);
  glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_RGB, GL_SRC_COLOR);
  glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_MODULATE);
  glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_ALPHA, GL_TEXTURE);
  glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_ALPHA, GL_SRC_ALPHA);
  glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_ALPHA, GL_PRIMARY_COLOR);
  glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND1_ALPHA, GL_SRC_ALPHA);
  drawflat(true, true);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, layerids[layer_none]);
  unsigned char pixel[4] = {0, 0, 0, 0};
  glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
  glBindTexture(GL_TEXTURE_2D, texture);
  if (pixel[3] < 128) return layer_none;
  return pixel[0] > 127 ? layer_top : pixel[1] > 127 ? layer_under : layer_background;
}

float maphdl::pickdepth(double x, double y, int px, int py, const double modelview[16],
                        const double projection[16], const int viewport[4]) {
  const maplayer layer = layerat(px, py);
  // Where nothing is drawn the depth buffer holds its cleared value, the far plane.
  if (layer == layer_none) return 1.0f;
  // Two points of the click's ray, at the near plane and halfway into the depth range (the
  // far plane itself lies at infinity for the GL's single-precision matrix).
  double near[3], mid[3];
  gluUnProject(x, y, 0.0, modelview, projection, viewport, &near[0], &near[1], &near[2]);
  gluUnProject(x, y, 0.5, modelview, projection, viewport, &mid[0], &mid[1], &mid[2]);
  const double z = layerheight(layer, depth_sep, map_pos);
  const double t = (z - near[2]) / (mid[2] - near[2]);
  double wx, wy, wz;
  gluProject(near[0] + t * (mid[0] - near[0]), near[1] + t * (mid[1] - near[1]), z, modelview,
             projection, viewport, &wx, &wy, &wz);
  return static_cast<float>(wz);
}

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
  // The GL keeps its matrices in single precision; they are read so (the browser's GL has no
  // double read-back) and widened.
  GLfloat single[2][16];
  GLdouble modelview[16], projection[16];
  GLint viewport[4];
  glGetFloatv(GL_MODELVIEW_MATRIX, single[0]);
  glGetFloatv(GL_PROJECTION_MATRIX, single[1]);
  std::copy(single[0], single[0] + 16, modelview);
  std::copy(single[1], single[1] + 16, projection);
  glGetIntegerv(GL_VIEWPORT, viewport);

  // The depth is read inside the picture: a click on the window's top row (or in a band beside
  // a letterboxed picture) would otherwise read outside it and leave the depth unset.
  const int rx = std::clamp(static_cast<int>(hold(x)), viewport[0],
                            std::max(viewport[0], viewport[0] + viewport[2] - 1));
  const int ry = std::clamp(static_cast<int>(hold(y)), viewport[1],
                            std::max(viewport[1], viewport[1] + viewport[3] - 1));
  GLfloat depth = 1.0f;
  if (!readdepth(rx, ry, &depth)) depth = pickdepth(x, y, rx, ry, modelview, projection, viewport);

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
