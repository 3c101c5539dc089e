// texture: noise pixel buffers and the GL textures made from them.
// Owns the fill, the grid lines, the mip chain and the upload; what is painted into a buffer
// between the fill and the upload is the map's business.
#include "foundation/texture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool poweroftwo(int n) {
  return n > 0 && (n & (n - 1)) == 0;
}

// Specifies one image with its mip levels into *texid (made when 0) and sets the sampling.
// The levels come from halveimage, the filter GLU's mipmap builder uses; an image whose sides
// are not powers of two is first scaled to the power-of-two size GLU would choose, as GLU does
// (the browser's GL has no GLU, and WebGL no mipmaps for other sizes).
void specify(GLuint* texid, const unsigned char* data, int width, int height, int bytes_per_pixel,
             GLenum format) {
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (*texid == 0) glGenTextures(1, texid);
  glBindTexture(GL_TEXTURE_2D, *texid);
  std::vector<unsigned char> levels[3];
  if (!poweroftwo(width) || !poweroftwo(height)) {
    const int w = mippower(width), h = mippower(height);
    levels[2].resize(static_cast<size_t>(w) * h * bytes_per_pixel);
    scaleimage(data, width, height, bytes_per_pixel, levels[2].data(), w, h);
    data = levels[2].data();
    width = w;
    height = h;
  }
  glTexImage2D(GL_TEXTURE_2D, 0, format, width, height, 0, format, GL_UNSIGNED_BYTE, data);
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

int mippower(int n) {
  if (n <= 1) return 1;
  int p = 1;
  while (p <= n / 2) p *= 2;  // the largest power of two not above n
  // Up when n is at least one and a half times that power (its second bit is set).
  return n & (p >> 1) ? 2 * p : p;
}

void scaleimage(const unsigned char* src, int width, int height, int bytes_per_pixel,
                unsigned char* dst, int to_width, int to_height) {
  // Each texel of the result covers a box of the source; it is the mean of the source texels
  // weighted by how much of each the box covers.
  const double sx = static_cast<double>(width) / to_width;
  const double sy = static_cast<double>(height) / to_height;
  std::vector<double> sum(bytes_per_pixel);
  for (int y = 0; y < to_height; y++) {
    const double y0 = y * sy, y1 = (y + 1) * sy;
    for (int x = 0; x < to_width; x++) {
      const double x0 = x * sx, x1 = (x + 1) * sx;
      std::fill(sum.begin(), sum.end(), 0.0);
      for (int j = static_cast<int>(y0); j < y1 && j < height; j++) {
        const double wy = std::min<double>(j + 1, y1) - std::max<double>(j, y0);
        for (int i = static_cast<int>(x0); i < x1 && i < width; i++) {
          const double w = wy * (std::min<double>(i + 1, x1) - std::max<double>(i, x0));
          const unsigned char* p = src + (static_cast<size_t>(j) * width + i) * bytes_per_pixel;
          for (int b = 0; b < bytes_per_pixel; b++) sum[b] += w * p[b];
        }
      }
      unsigned char* d = dst + (static_cast<size_t>(y) * to_width + x) * bytes_per_pixel;
      for (int b = 0; b < bytes_per_pixel; b++)
        d[b] = static_cast<unsigned char>(std::min(255.0, sum[b] / (sx * sy) + 1e-9));
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
