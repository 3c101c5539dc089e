// camera: the fixed projection and the viewpoint; see camera.h.
// Owns the GL projection matrix, which is set once and never again: the board's shape and the
// text placement of the display handler are both made for this frustum. The viewport that keeps
// its 16:10 shape on any screen is the run's business (fitviewport in display.h).
#include "presentation/camera.h"

#include <GL/gl.h>

camera cam;

camera::camera() : pos(0, 0, 0, 0), rot(0, 0, 0, 0) {}

void camera::init() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // 0.32 x 0.2 at the near plane: the 16:10 screens the design was made on.
  glFrustum(-0.16, 0.16, -0.1, 0.1, 0.2, 999999999.0);
  // Every drawing routine of the run assumes the model-view matrix is the current one.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void camera::setproj() {
  glRotatef(rot.x, 1, 0, 0);
  glRotatef(rot.y, 0, 1, 0);
  glRotatef(rot.z, 0, 0, 1);
  glTranslatef(pos.x, pos.y, pos.z);
}

void camera::move(vec d) {
  // setproj turns the scene by x, then y, then z; undoing that axis by axis with the negated
  // angles gives the camera's own axes in scene coordinates, so d moves the scene exactly by d
  // as the eye sees it.
  vec a = (-3.14159274f * rot) / 180.0f;
  vec X = rotz(roty(rotx(vec(1, 0, 0), a.x), a.y), a.z);
  vec Y = rotz(roty(rotx(vec(0, 1, 0), a.x), a.y), a.z);
  vec Z = rotz(roty(rotx(vec(0, 0, 1), a.x), a.y), a.z);
  pos += (d.x * X + d.y * Y) + d.z * Z;
}

void camera::forward(float f) {
  move(vec(0, 0, f));
}
void camera::backward(float f) {
  move(vec(0, 0, -f));
}
void camera::right(float f) {
  move(vec(-f, 0, 0));
}
void camera::left(float f) {
  move(vec(f, 0, 0));
}
void camera::up(float f) {
  move(vec(0, -f, 0));
}
void camera::down(float f) {
  move(vec(0, f, 0));
}

void camera::rotate(vec r) {
  rot.x += r.x;
  rot.y += r.y;
  rot.z += r.z;
  // Looking straight up is allowed, looking all the way down is not.
  if (rot.x >= 90)
    rot.x = 90;
  else if (rot.x <= -80)
    rot.x = -80;
}
