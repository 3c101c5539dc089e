// texture: the grid lines, the mip chain against GLU's, and the kept name.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>
#include <GL/glu.h>

#include "foundation/texture.h"
#include "presentation/offscreen.h"

using bytes = std::vector<unsigned char>;

// A mip level read into a buffer of the base level's size, zeros past the level's own texels.
static bytes teximage(GLuint texid, int level, const int size[2]) {
  bytes px(size[0] * size[1] * 4);
  glBindTexture(GL_TEXTURE_2D, texid);
  glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  return px;
}

// The order the noise is filled in is checked where the layout draws it (tests/model).
TEST(Texture, GridLinesStandEvenlySpaced) {
  bytes grid(10 * 4 * 4, 200), none(grid);
  const unsigned char black[4] = {0, 0, 0, 255};
  gridlines(grid.data(), 10, 4, 4, 4, 2, black);
  gridlines(none.data(), 10, 4, 4, 0, 0, black);
  EXPECT_EQ(none, bytes(grid.size(), 200));
  for (int i = 0; i < 10 * 4; i++)  // first and last bytes: 0 + 255 on a line, 200 + 200 off it
    EXPECT_EQ(grid[4 * i] + grid[4 * i + 3],
              "X.X..X.X.."[i % 10] == 'X' || "X.X."[i / 10] == 'X' ? 255 : 400)
        << i;
}

TEST(Texture, UploadKeepsItsNameAndMatchesGluMipLevels) {
  ASSERT_TRUE(makeglcontext(16, 16));
  const int sizes[][2] = {{512, 512}, {8, 2}, {1, 4}};
  GLuint theirs = 0;
  glGenTextures(1, &theirs);
  for (auto& s : sizes) {
    rgbatex_t ours;  // each trial uploads into the same name, so driver memory stays flat
    noise(&ours, s[0], s[1]);
    const GLuint name = ours.texid;
    noisefill(ours.data, s[0], s[1], 4);
    upload(&ours);
    EXPECT_EQ(ours.texid, name);
    glBindTexture(GL_TEXTURE_2D, theirs);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, s[0], s[1], GL_RGBA, GL_UNSIGNED_BYTE, ours.data);
    for (int level = 0; 1 << level <= std::max(s[0], s[1]); level++)
      ASSERT_EQ(teximage(ours.texid, level, s), teximage(theirs, level, s))
          << s[0] << "x" << s[1] << " level " << level;
  }
}
