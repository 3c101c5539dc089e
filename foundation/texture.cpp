// texture: noise pixel buffers and the GL textures made from them.
// Owns the fill, the grid lines, the mip chain and the upload; what is painted into a buffer
// between the fill and the upload is the map's business.
#include "foundation/texture.h"

#include <cstdlib>
#include <cstring>
#include <vector>
#include <GL/glu.h>

namespace {

bool poweroftwo(int n) {
  return n > 0 && (n & (n - 1)) == 0;
}

// Specifies one image with its mip levels into *texid (made when 0) and sets the sampling.
// Power-of-two images get their levels from halveimage, the filter GLU would use, without
// GLU's copying and format conversions; any other size goes through GLU, which rescales it.
void specify(GLuint* texid, const unsigned char* data, int width, int height, int bytes_per_pixel,
             GLenum format) {
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (*texid == 0) glGenTextures(1, texid);
  glBindTexture(GL_TEXTURE_2D, *texid);
  if (poweroftwo(width) && poweroftwo(height)) {
    glTexImage2D(GL_TEXTURE_2D, 0, format, width, height, 0, format, GL_UNSIGNED_BYTE, data);
    std::vector<unsigned char> levels[2];
    const unsigned char* above = data;
    for (int level = 1; width > 1 || height > 1; level++) {
      int w = width > 1 ? width / 2 : 1;
      int h = height > 1 ? height / 2 : 1;
      std::vector<unsigned char>& below = levels[level % 2];
      below.resize(static_cast<size_t>(w) * h * bytes_per_pixel);
      halveimage(above, width, height, bytes_per_pixel, below.data());
      glTexImage2D(GL_TEXTURE_2D, level, format, w, h, 0, format, GL_UNSIGNED_BYTE, below.data());
      above = below.data();
      width = w;
      height = h;
    }
  } else {
    gluBuild2DMipmaps(GL_TEXTURE_2D, format, width, height, format, GL_UNSIGNED_BYTE, data);
  }
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
}

template <class T>
void allocate(T* tex, int width, int height, int bytes_per_pixel) {
  tex->width = width;
  tex->height = height;
  tex->data = new unsigned char[static_cast<size_t>(width) * height * bytes_per_pixel];
}

// Nothing in the program enables 3-D texturing (the browser's GL has none to switch off), so
// turning 2-D texturing on is all binding needs.
void texbind(GLuint texid) {
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texid);
}

const unsigned char black[4] = {0, 0, 0, 255};
const unsigned char red[3] = {255, 0, 0};

}  // namespace

rgbatex_t::rgbatex_t() : data(nullptr), width(0), height(0), texid(0) {}

rgbatex_t::~rgbatex_t() {
  release();
}

void rgbatex_t::release() {
  // The name is forgotten as well as deleted, so a second release cannot delete a name that GL
  // has meanwhile given to another texture.
  if (texid) glDeleteTextures(1, &texid);
  texid = 0;
  delete[] data;
  data = nullptr;
}

void rgbatex_t::bind() {
  texbind(texid);
}
void rgbtex_t::bind() {
  texbind(texid);
}

namespace {

// Column by column, so that a seed gives the same picture whatever the image's row length.
template <class Draw>
void fillcolumns(unsigned char* data, int width, int height, int bytes_per_pixel, Draw draw) {
  for (int x = 0; x < width; x++) {
    for (int y = 0; y < height; y++) {
      unsigned char* p = data + (static_cast<size_t>(y) * width + x) * bytes_per_pixel;
      p[0] = draw() % 256;
      p[1] = draw() % 256;
      p[2] = draw() % 256;
      if (bytes_per_pixel == 4) p[3] = 255;
    }
  }
}

}  // namespace

void noisefill(unsigned char* data, int width, int height, int bytes_per_pixel) {
  fillcolumns(data, width, height, bytes_per_pixel, [] { return randomnumber(); });
}

void noisefill(unsigned char* data, int width, int height, int bytes_per_pixel,
               randstream* numbers) {
  fillcolumns(data, width, height, bytes_per_pixel, [numbers] { return numbers->next(); });
}

void gridlines(unsigned char* data, int width, int height, int bytes_per_pixel, int nx, int ny,
               const unsigned char* colour) {
  for (int k = 0; k < nx; k++) {
    int c = k * width / nx;
    for (int y = 0; y < height; y++)
      memcpy(data + (static_cast<size_t>(y) * width + c) * bytes_per_pixel, colour,
             bytes_per_pixel);
  }
  for (int k = 0; k < ny; k++) {
    int r = k * height / ny;
    for (int x = 0; x < width; x++)
      memcpy(data + (static_cast<size_t>(r) * width + x) * bytes_per_pixel, colour,
             bytes_per_pixel);
  }
}

void halveimage(const unsigned char* src, int width, int height, int bytes_per_pixel,
                unsigned char* dst) {
  const size_t row = static_cast<size_t>(width) * bytes_per_pixel;
  if (width == 1 || height == 1) {
    // A line of texels: pairs along it, truncated as GLU does for one-dimensional images.
    int n = (width == 1 ? height : width) / 2;
    if (n == 0) {
      memcpy(dst, src, bytes_per_pixel);
      return;
    }
    for (int i = 0; i < n; i++)
      for (int b = 0; b < bytes_per_pixel; b++)
        dst[i * bytes_per_pixel + b] =
            (src[2 * i * bytes_per_pixel + b] + src[(2 * i + 1) * bytes_per_pixel + b]) / 2;
    return;
  }
  const int w = width / 2;
  const int h = height / 2;
  for (int y = 0; y < h; y++) {
    const unsigned char* a = src + 2 * y * row;
    const unsigned char* c = a + row;
    unsigned char* d = dst + static_cast<size_t>(y) * w * bytes_per_pixel;
    for (int x = 0; x < w; x++) {
      for (int b = 0; b < bytes_per_pixel; b++) {
        d[b] = (a[b] + a[b + bytes_per_pixel] + c[b] + c[b + bytes_per_pixel] + 2) / 4;
      }
      a += 2 * bytes_per_pixel;
      c += 2 * bytes_per_pixel;
      d += bytes_per_pixel;
    }
  }
}

void upload(rgbatex_t* tex) {
  specify(&tex->texid, tex->data, tex->width, tex->height, 4, GL_RGBA);
}

void upload(rgbtex_t* tex) {
  specify(&tex->texid, tex->data, tex->width, tex->height, 3, GL_RGB);
}

namespace {

// Both record kinds are made alike; they differ in bytes a pixel and the colour of grid lines.
// A fresh texture name is taken: the caller has released what the record held.
template <class T>
void makenoise(T* tex, int width, int height, int bytes_per_pixel, int nx, int ny,
               const unsigned char* line_colour) {
  allocate(tex, width, height, bytes_per_pixel);
  noisefill(tex->data, width, height, bytes_per_pixel);
  gridlines(tex->data, width, height, bytes_per_pixel, nx, ny, line_colour);
  tex->texid = 0;
  upload(tex);
}

}  // namespace

void noise(rgbatex_t* tex, int width, int height) {
  makenoise(tex, width, height, 4, 0, 0, black);
}

void noise(rgbtex_t* tex, int width, int height) {
  makenoise(tex, width, height, 3, 0, 0, red);
}

void gridnoise(rgbatex_t* tex, int width, int height, int nx, int ny) {
  makenoise(tex, width, height, 4, nx, ny, black);
}

void gridnoise(rgbtex_t* tex, int width, int height, int nx, int ny) {
  makenoise(tex, width, height, 3, nx, ny, red);
}
