// pictures: see pictures.h. Owns the read-back and the projection of grid positions; the GL
// state is the run's (fixglstate, the camera), the drawing the map's (render).
#include "replay/pictures.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "presentation/offscreen.h"
#include "run/run.h"

namespace {

int screen_size[2];      // the picture size screenlike set up, pixels
int screen_viewport[4];  // its viewport as the window has it: y from the bottom

picture readback() {
  picture p;
  p.width = screen_size[0];
  p.height = screen_size[1];
  p.pixels.resize(static_cast<size_t>(p.width) * p.height);
  // BGRA as reversed 8-bit fields is 0xAARRGGBB in a native word, whatever the byte order;
  // the buffer holds its rows from the picture's top (windowrows).
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, p.width, p.height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, p.pixels.data());
  return p;
}

// The start of displayfunc: a cleared frame with the camera applied.
void newframe() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  cam.setproj();
}

}  // namespace

bool screenlike(int width, int height, std::string* problem) {
  if (!makeglcontext(width, height, problem) || !windowrows(problem)) return false;
  cam.init();
  fixglstate();
  fitviewport(width, height, screen_viewport);
  windowviewport(screen_viewport, height);
  glColor4f(1, 1, 1, 1);
  screen_size[0] = width;
  screen_size[1] = height;
  return true;
}

picture drawwatch(maphdl& m, double frame) {
  display.frame_count = frame;
  newframe();
  m.render(0);
  return readback();
}

picture drawpick(maphdl& m, pickview* view) {
  m.finishshift();
  m.rotation = m.rotate_angle;
  newframe();
  m.render(4);
  // render leaves the map's distance in the model-view matrix; the under layer is drawn in that
  // frame flattened, turned and moved on, as render's PICK branch does it.
  glPushMatrix();
  glScalef(1, 1, 0.1f);
  glRotatef(m.rotation, 0, 0, 1);
  glTranslatef(m.map_pos.x, m.map_pos.y, m.map_pos.z);
  glGetDoublev(GL_MODELVIEW_MATRIX, view->modelview);
  glPopMatrix();
  glGetDoublev(GL_PROJECTION_MATRIX, view->projection);
  std::copy(screen_viewport, screen_viewport + 4, view->viewport);
  view->height = screen_size[1];
  view->map_width = m.map_width;
  view->map_height = m.map_height;
  view->num_x = m.num_x;
  view->num_y = m.num_y;
  return readback();
}

std::pair<double, double> pickview::place(double gx, double gy) const {
  const double x = gx * map_width / num_x - map_width / 2.0;
  const double y = gy * map_height / num_y - map_height / 2.0;
  double wx, wy, wz;
  gluProject(x, y, 0, modelview, projection, viewport, &wx, &wy, &wz);
  return {wx, height - wy};
}

std::pair<double, double> clickpoint(int x_px, int y_px, const int live_vp[4], int live_height,
                                     const int vp[4], int height) {
  const double fx = (x_px + 0.5 - live_vp[0]) / live_vp[2];
  const double fy = (live_height - (y_px + 0.5) - live_vp[1]) / live_vp[3];
  return {vp[0] + fx * vp[2], height - (vp[1] + fy * vp[3])};
}
