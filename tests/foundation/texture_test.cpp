// Noise fill order, grid lines, the mip chain against GLU's, and the kept texture name.
#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>
#include <GL/gl.h>
#include <GL/glu.h>
#include "foundation/texture.h"
#include "tests/support/glcontext.h"

namespace {

std::vector<unsigned char> teximage(GLuint texid, int level, int* w, int* h) {
  glBindTexture(GL_TEXTURE_2D, texid);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, h);
  std::vector<unsigned char> px(static_cast<size_t>(*w) * *h * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  return px;
}

}  // namespace

TEST(NoiseFill, RunsDownEachColumnWithOpaqueAlphaAndRepeatsForASeed) {
  unsigned char a[32], b[32];
  srand(7);
  noisefill(a, 4, 2, 4);
  srand(7);
  int first[6];
  for (int& r : first) r = rand() % 256;
  // (0, 0) takes the first three numbers, then (0, 1): the column before the row.
  EXPECT_EQ(a[0], first[0]);
  EXPECT_EQ(a[2], first[2]);
  EXPECT_EQ(a[4 * 4 + 0], first[3]);
  EXPECT_EQ(a[4 * 4 + 2], first[5]);
  for (int i = 3; i < 32; i += 4) EXPECT_EQ(a[i], 255);
  srand(7);
  noisefill(b, 4, 2, 4);
  EXPECT_EQ(std::vector<unsigned char>(a, a + 32), std::vector<unsigned char>(b, b + 32));
}

TEST(GridLines, MarkEvenlySpacedColumnsAndRowsAndNoneForZero) {
  const unsigned char mark[4] = {0, 0, 0, 255};
  std::vector<unsigned char> img(10 * 3 * 4, 200);
  gridlines(img.data(), 10, 3, 4, 4, 0, mark);
  for (int x = 0; x < 10; x++) {
    bool line = x == 0 || x == 2 || x == 5 || x == 7;
    for (int y = 0; y < 3; y++) EXPECT_EQ(img[(y * 10 + x) * 4], line ? 0 : 200) << x << "," << y;
  }
  const unsigned char red[3] = {255, 0, 0};
  std::vector<unsigned char> rgb(8 * 4 * 3, 9);
  gridlines(rgb.data(), 8, 4, 3, 0, 2, red);
  for (int y = 0; y < 4; y++) {
    bool line = y == 0 || y == 2;
    EXPECT_EQ(rgb[(y * 8 + 5) * 3], line ? 255 : 9);
    EXPECT_EQ(rgb[(y * 8 + 5) * 3 + 1], line ? 0 : 9);
  }
}

TEST(Upload, GivesTheSameMipLevelsAsGluBuild2DMipmaps) {
  ASSERT_TRUE(makeglcontext(16, 16));
  struct size {
    int w, h;
  };
  for (size s : {size{512, 512}, size{8, 2}, size{1, 4}}) {
    rgbatex_t ours;
    srand(11);
    noise(&ours, s.w, s.h);
    GLuint theirs = 0;
    glGenTextures(1, &theirs);
    glBindTexture(GL_TEXTURE_2D, theirs);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, s.w, s.h, GL_RGBA, GL_UNSIGNED_BYTE, ours.data);
    for (int level = 0;; level++) {
      int w1, h1, w2, h2;
      std::vector<unsigned char> a = teximage(ours.texid, level, &w1, &h1);
      std::vector<unsigned char> b = teximage(theirs, level, &w2, &h2);
      ASSERT_EQ(w1, w2) << s.w << "x" << s.h << " level " << level;
      ASSERT_EQ(h1, h2);
      EXPECT_EQ(a, b) << s.w << "x" << s.h << " level " << level;
      if (w1 == 1 && h1 == 1) break;
    }
    glDeleteTextures(1, &theirs);
  }
}

TEST(Upload, RespecifiesTheKeptNameAndReleaseForgetsIt) {
  ASSERT_TRUE(makeglcontext(16, 16));
  rgbatex_t t;
  noise(&t, 4, 4);
  const GLuint name = t.texid;
  ASSERT_NE(name, 0u);
  t.data[0] = 17;
  upload(&t);
  EXPECT_EQ(t.texid, name);
  int w, h;
  EXPECT_EQ(teximage(t.texid, 0, &w, &h)[0], 17);

  t.release();
  EXPECT_EQ(t.data, nullptr);
  EXPECT_EQ(t.texid, 0u);
  EXPECT_FALSE(glIsTexture(name));
  t.release();  // a second release touches nothing
  EXPECT_EQ(t.data, nullptr);
}
