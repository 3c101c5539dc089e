// texture: the mip chain against GLU's, the kept name, and scaling. (The noise, its order and
// the grid lines the map leaves out are checked where the layout draws them, in tests/model.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// Power-of-two images are GLU's levels byte for byte; others are scaled to the size GLU scales
// them to, and GLU's own float arithmetic may round a byte of them one lower or higher.
TEST(Texture, UploadKeepsItsNameAndMatchesGluMipLevels) {
  ASSERT_TRUE(makeglcontext(16, 16));
  const int sizes[][2] = {{512, 512}, {8, 2}, {1, 4}, {10, 6}, {12, 5}, {3, 3}, {100, 37}};
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
    const bool exact = (s[0] & (s[0] - 1)) == 0 && (s[1] & (s[1] - 1)) == 0;
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
      int off = 0;
      for (size_t i = 0; i < a.size(); i++) off = std::max(off, std::abs(a[i] - b[i]));
      ASSERT_LE(off, exact ? 0 : 1) << s[0] << "x" << s[1] << " level " << level;
    }
  }
}

// A plain image stays plain whichever way it is scaled, also one texel high, where GLU's own
// scaler gives black.
TEST(Texture, ScalingKeepsAPlainColour) {
  for (auto [w, h, tw, th] :
       std::vector<std::array<int, 4>>{{7, 1, 8, 1}, {5, 3, 4, 4}, {3, 9, 2, 8}}) {
    const bytes plain(w * h * 3, 201);
    bytes scaled(tw * th * 3);
    scaleimage(plain.data(), w, h, 3, scaled.data(), tw, th);
    EXPECT_EQ(scaled, bytes(scaled.size(), 201)) << w << "x" << h;
  }
}
