// camera: steering must move the scene exactly as the eye sees it, whatever the angles, and the
// projection must be the one the text placement is calibrated to.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include "presentation/camera.h"
#include "tests/support/glcontext.h"

namespace {

const float degree = 3.14159265f / 180;

// Where setproj puts a scene point: Rx * Ry * Rz * (p + pos).
vec eyepoint(const camera& c, vec p) {
  return rotx(roty(rotz(p + c.pos, c.rot.z * degree), c.rot.y * degree), c.rot.x * degree);
}

void expectnear(vec a, vec b) {
  EXPECT_NEAR(a.x, b.x, 1e-4);
  EXPECT_NEAR(a.y, b.y, 1e-4);
  EXPECT_NEAR(a.z, b.z, 1e-4);
  EXPECT_NEAR(a.w, b.w, 1e-4);
}

TEST(Camera, StepsMoveTheSceneAsSeenFromTheEye) {
  camera c;
  c.forward(1);
  c.right(2);
  c.up(3);
  expectnear(c.pos, vec(-2, -3, 1, 0));
  c.backward(1);
  c.left(2);
  c.down(3);
  expectnear(c.pos, vec());

  c.rot = vec(0, 90, 0);
  c.forward(1);
  expectnear(c.pos, vec(-1, 0, 0, 0));

  c.rot = vec(30, -50, 20);
  vec p(0.3f, -1, 4), d(0.5f, -2, 1.5f, 9);
  vec before = eyepoint(c, p);
  c.move(d);
  expectnear(eyepoint(c, p) - before, vec(d.x, d.y, d.z, 0));
  EXPECT_EQ(c.pos.w, 0);
}

TEST(Camera, PitchIsHeldBetweenMinus80And90) {
  camera c;
  c.rotate(vec(100, 0, 0, 5));
  EXPECT_EQ(c.rot.x, 90);
  c.rotate(vec(-175, 0, 0));  // -85
  EXPECT_EQ(c.rot.x, -80);
  c.rotate(vec(5, 400, -700));
  EXPECT_EQ(c.rot.x, -75);
  EXPECT_EQ(c.rot.y, 400);
  EXPECT_EQ(c.rot.z, -700);
}

void readmatrix(GLenum which, float m[16]) {
  glGetFloatv(which, m);
}

TEST(Camera, InitSetsTheFixedFrustumAndLeavesModelViewCurrent) {
  ASSERT_TRUE(makeglcontext(64, 40));
  glMatrixMode(GL_MODELVIEW);
  glTranslatef(1, 2, 3);
  glMatrixMode(GL_TEXTURE);
  camera c;
  c.init();

  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  float m[16];
  readmatrix(GL_MODELVIEW_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], i % 5 == 0 ? 1 : 0) << i;

  // glFrustum(-0.16, 0.16, -0.1, 0.1, 0.2, 999999999), column by column.
  double n = 0.2, f = 999999999;
  float expected[16] = {1.25f,
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
  readmatrix(GL_PROJECTION_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], expected[i], 1e-6 * std::max(1.0f, m[i])) << i;

  c.setproj();
  readmatrix(GL_MODELVIEW_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], i % 5 == 0 ? 1 : 0) << i;

  // The GL matrix and the steering agree on where a point ends up.
  c.pos = vec(1, -2, 0.5f);
  c.rot = vec(20, 35, -60);
  glLoadIdentity();
  c.setproj();
  readmatrix(GL_MODELVIEW_MATRIX, m);
  vec p(0.7f, 0.2f, -3);
  vec viagl(m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
            m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]);
  expectnear(viagl, eyepoint(c, p));
}

}  // namespace
