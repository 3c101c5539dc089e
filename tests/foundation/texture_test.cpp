// texture: the mip chain against GLU's, and the kept name. (The noise, its order and
// the grid lines the map leaves out are checked where the layout draws them, in tests/model.)
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

// The levels are GLU's byte for byte. (The program uploads only its 512 x 512 layers; sides
// that are not powers of two are never scaled.)
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
    int base[2];  // the size GLU chose for level 0
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &base[0]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &base[1]);
    EXPECT_EQ(std::vector<int>({mippower(s[0]), mippower(s[1])}), std::vector<int>(base, base + 2));
    for (int level = 0; 1 << level <= std::max(base[0], base[1]); level++) {
      int size[2];
      glBindTexture(GL_TEXTURE_2D, ours.texid);
      glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &size[0]);
      glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &size[1]);
      EXPECT_EQ(std::max(1, base[0] >> level), size[0]);
      const bytes a = teximage(ours.texid, level, base), b = teximage(theirs, level, base);
      ASSERT_TRUE(a == b) << s[0] << "x" << s[1] << " level " << level;
    }
  }
}
