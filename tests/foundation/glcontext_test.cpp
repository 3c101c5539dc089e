#include <gtest/gtest.h>
#include <GL/gl.h>
#include "tests/support/glcontext.h"

TEST(GlContext, ClearsAndReadsBackAFramebuffer) {
  ASSERT_TRUE(makeglcontext(64, 32));
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  unsigned char px[4] = {0, 0, 0, 0};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
  EXPECT_EQ(px[0], 255);
  EXPECT_EQ(px[1], 0);
}
