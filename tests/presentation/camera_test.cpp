// camera: steering must move the scene exactly as the eye sees it whatever the angles, and the
// projection must be the one the text placement is calibrated to.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include "presentation/camera.h"
#include "tests/support/glcontext.h"

namespace {

// Where setproj puts a scene point: Rx * Ry * Rz * (p + pos), angles in degrees.
vec eyepoint(const camera& c, vec p) {
  const float degree = 3.14159265f / 180;
  return rotx(roty(rotz(p + c.pos, c.rot.z * degree), c.rot.y * degree), c.rot.x * degree);
}

void expectnear(vec a, vec b) {
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], 1e-4) << i;
}

TEST(Camera, StepsMoveTheSceneAsSeenFromTheEye) {
  camera c;
  c.forward(1);
  c.right(2);
  c.up(3);
  expectnear(c.pos, vec(-2, -3, 1, 0));
  c.pos = vec();
  c.rot = vec(0, 90, 0);
  c.forward(1);
  expectnear(c.pos, vec(-1, 0, 0, 0));
  c.rot = vec(30, -50, 20);
  vec p(0.3f, -1, 4), before = eyepoint(c, p);
  c.move(vec(0.5f, -2, 1.5f, 9));
  expectnear(eyepoint(c, p) - before, vec(0.5f, -2, 1.5f, 0));
}

TEST(Camera, PitchIsHeldBetweenMinus80And90) {
  camera c;
  c.rotate(vec(100, 0, 0, 5));
  EXPECT_EQ(c.rot.x, 90);
  c.rotate(vec(-175, 0, 0));  // -85
  EXPECT_EQ(c.rot.x, -80);
  c.rotate(vec(5, 400, -700));
  expectnear(c.rot, vec(-75, 400, -700, 0));
}

TEST(Camera, InitSetsTheFixedFrustumAndSetprojTheViewpoint) {
  ASSERT_TRUE(makeglcontext(64, 40));
  glTranslatef(1, 2, 3);
  glMatrixMode(GL_TEXTURE);
  camera c;
  c.init();
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  float m[16];
  c.setproj();  // zero angles and position: still the identity
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], i % 5 == 0 ? 1 : 0) << i;

  double n = 0.2, f = 999999999;
  float frustum[16] = {1.25f,
                       0,
                       0,
                       0,
                       0,
                       2,
                       0,
                       0,
                       0,
                       0,
                       float(-(f + n) / (f - n)),
                       -1,
                       0,
                       0,
                       float(-2 * f * n / (f - n)),
                       0};
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], frustum[i], 1e-6 * std::max(1.0f, m[i])) << i;

  // The GL matrix and the steering agree on where a point ends up.
  c.pos = vec(1, -2, 0.5f);
  c.rot = vec(20, 35, -60);
  glLoadIdentity();
  c.setproj();
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  vec p(0.7f, 0.2f, -3), viagl;
  viagl = p.x * vec(m[0], m[1], m[2]) + p.y * vec(m[4], m[5], m[6]) + p.z * vec(m[8], m[9], m[10]) +
          vec(m[12], m[13], m[14]);
  expectnear(viagl, eyepoint(c, p));
}

}  // namespace
