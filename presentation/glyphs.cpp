// glyphs: see glyphs.h. The window position is worked out as the GL works out a raster
// position: the point through the model-view and projection matrices, the clip test, the
// viewport; a bitmap then covers the pixels from floor(position - origin). Each glyph's quad
// covers exactly those pixels, and the image's texels map onto their centres with nearest
// filtering, so every pixel takes exactly one glyph texel.
#include "presentation/glyphs.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "presentation/platform.h"

namespace {

#include "presentation/font9x15.inc"

constexpr int image_size = 256;  // 16 x 16 cells of 16 x 16 texels, one glyph in each
constexpr int cell = 16;
static_assert(font_height <= cell, "a glyph must fit its cell of the image");

GLuint image = 0;

void makeimage() {
  std::vector<unsigned char> texels(image_size * image_size * 4, 255);
  for (int c = 0; c < 256; c++) {
    const unsigned char* g = font_glyphs[c];
    for (int row = 0; row < cell; row++)
      for (int col = 0; col < cell; col++) {
        const bool ink = row < font_height && col < g[0] && col < 16 &&
                         (g[1 + 2 * row + col / 8] >> (7 - col % 8) & 1);
        const int x = c % 16 * cell + col, y = c / 16 * cell + row;
        texels[(y * image_size + x) * 4 + 3] = ink ? 255 : 0;
      }
  }
  glGenTextures(1, &image);
  glBindTexture(GL_TEXTURE_2D, image);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image_size, image_size, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               texels.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// The point's window position and depth; false when it lies outside the view volume.
bool rasterposition(float x, float y, float z, const GLint viewport[4], double window[3]) {
  GLfloat m[16], p[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  float eye[4], clip[4];
  for (int i = 0; i < 4; i++) eye[i] = m[i] * x + m[4 + i] * y + m[8 + i] * z + m[12 + i];
  for (int i = 0; i < 4; i++)
    clip[i] = p[i] * eye[0] + p[4 + i] * eye[1] + p[8 + i] * eye[2] + p[12 + i] * eye[3];
  for (int i = 0; i < 3; i++)
    if (clip[i] > clip[3] || clip[i] < -clip[3]) return false;
  window[0] = viewport[0] + (clip[0] / clip[3] + 1) * viewport[2] / 2;
  window[1] = viewport[1] + (clip[1] / clip[3] + 1) * viewport[3] / 2;
  window[2] = (clip[2] / clip[3] + 1) / 2;
  return true;
}

struct saved {
  GLint texture = 0, alpha_func = 0;
  GLfloat alpha_ref = 0;
  GLboolean textured = glIsEnabled(GL_TEXTURE_2D), alpha_test = glIsEnabled(GL_ALPHA_TEST);
  saved() {
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_ALPHA_TEST_FUNC, &alpha_func);
    glGetFloatv(GL_ALPHA_TEST_REF, &alpha_ref);
  }
  ~saved() {
    glBindTexture(GL_TEXTURE_2D, texture);
    glAlphaFunc(alpha_func, alpha_ref);
    if (!alpha_test) glDisable(GL_ALPHA_TEST);
    if (!textured) glDisable(GL_TEXTURE_2D);
  }
};

}  // namespace

const unsigned char* glyphbitmap(int code) {
  return font_glyphs[code & 255];
}

void glyphorigin(int* rows, float* xorig, float* yorig) {
  *rows = font_height;
  *xorig = font_xorig;
  *yorig = font_yorig;
}

void glyphtext(const char* text, float x, float y, float z) {
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  double at[3];
  if (!rasterposition(x, y, z, viewport, at)) return;
  saved state;
  if (!image) makeimage();
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, image);
  // Only the glyphs' ink, whatever blending does with the rest.
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GEQUAL, opaquealpha());
  // Bitmaps are not held to the viewport: they may reach past its edges (a letterboxed
  // picture's band), so the quads are drawn through one widened on every side.
  GLint most[2] = {0, 0};
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, most);
  const GLint room = std::max(
      0, std::min(4096, (std::min(most[0], most[1]) - std::max(viewport[2], viewport[3])) / 2));
  const GLint wide[4] = {viewport[0] - room, viewport[1] - room, viewport[2] + 2 * room,
                         viewport[3] + 2 * room};
  glViewport(wide[0], wide[1], wide[2], wide[3]);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  // Window pixels, and the raster position's depth as z.
  glOrtho(wide[0], wide[0] + wide[2], wide[1], wide[1] + wide[3], 0, -1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  const float bottom = static_cast<float>(std::floor(at[1] - font_yorig));
  const float depth = static_cast<float>(at[2]);
  double pen = at[0];
  glBegin(GL_QUADS);
  for (const char* c = text; *c; ++c) {
    // As the toolkit: characters are signed, and 0 and the negative ones draw nothing.
    const int code = static_cast<signed char>(*c);
    if (code < 1) continue;
    const unsigned char* g = font_glyphs[code];
    const float left = static_cast<float>(std::floor(pen - font_xorig));
    const float s0 = static_cast<float>(code % 16 * cell) / image_size;
    const float t0 = static_cast<float>(code / 16 * cell) / image_size;
    const float s1 = s0 + static_cast<float>(g[0]) / image_size;
    const float t1 = t0 + static_cast<float>(font_height) / image_size;
    glTexCoord2f(s0, t0);
    glVertex3f(left, bottom, depth);
    glTexCoord2f(s1, t0);
    glVertex3f(left + g[0], bottom, depth);
    glTexCoord2f(s1, t1);
    glVertex3f(left + g[0], bottom + font_height, depth);
    glTexCoord2f(s0, t1);
    glVertex3f(left, bottom + font_height, depth);
    pen += g[0];
  }
  glEnd();
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}
