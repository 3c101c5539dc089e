// texture: pixel buffers filled with random colour noise, and the GL textures made from them.
// Owns the buffers (`data`) and the texture names; the map decides what is painted into them.
// The fill and the grid lines are pure functions over a byte buffer, so they are tested without
// GL; only the upload, bind and release touch the GL context.
#pragma once
#include <GL/gl.h>
#include "foundation/random.h"

// RGBA texture record: four bytes a pixel (red, green, blue, alpha), row 0 first.
struct rgbatex_t {
  unsigned char* data;  // width * height * 4 bytes, owned; null when there is no image
  int width;            // image width, pixels
  int height;           // image height, pixels
  GLuint texid;         // GL texture made from data; 0 when none

  rgbatex_t();
  ~rgbatex_t();
  void bind();     // 2-D texturing on, texid bound
  void release();  // what the destructor does: deletes the texture, frees data
};

// RGB texture record: three bytes a pixel. Kept for completeness; the map uses rgbatex_t.
struct rgbtex_t {
  unsigned char* data;  // width * height * 3 bytes, owned
  int width;            // image width, pixels
  int height;           // image height, pixels
  GLuint texid;         // GL texture made from data

  void bind();
};

// Allocate, fill with noise and upload. They overwrite data and texid without releasing them.
void noise(rgbatex_t* tex, int width, int height);
void noise(rgbtex_t* tex, int width, int height);
// As noise, crossed by nx vertical and ny horizontal lines (black for RGBA, red for RGB).
void gridnoise(rgbatex_t* tex, int width, int height, int nx, int ny);
void gridnoise(rgbtex_t* tex, int width, int height, int nx, int ny);

// Specifies the record's image, with all its mip levels, into its texture name, making a name
// only when texid is 0, and leaves it bound with linear mipmap filtering and repeat wrap.
// Re-specifying the same name each trial keeps the driver's memory flat, where deleting and
// making a new texture leaks a texture's storage per trial in Mesa's software driver.
void upload(rgbatex_t* tex);
void upload(rgbtex_t* tex);

// Window-free pieces of the above.
// Fills pixels column by column (all y of x = 0 first), three numbers of the shared generator
// (randomnumber) a pixel for red, green and blue; with 4 bytes a pixel the alpha byte is 255.
void noisefill(unsigned char* data, int width, int height, int bytes_per_pixel);
// The same fill with the numbers taken from `numbers` instead.
void noisefill(unsigned char* data, int width, int height, int bytes_per_pixel,
               randstream* numbers);
// Columns (k * width) / nx for k < nx and rows (k * height) / ny for k < ny take `colour`
// (bytes_per_pixel bytes). nx or ny of 0 draws no line of that direction.
void gridlines(unsigned char* data, int width, int height, int bytes_per_pixel, int nx, int ny,
               const unsigned char* colour);
// One mip level from the one above: each texel the rounded mean of the 2 x 2 block it covers
// (of the 2 texels once a side is 1 wide), the box filter GLU's mipmap builder uses for
// power-of-two images. The result is max(1, width / 2) x max(1, height / 2).
void halveimage(const unsigned char* src, int width, int height, int bytes_per_pixel,
                unsigned char* dst);
// The power of two a side of n texels is scaled to before its mip levels are made, as GLU
// chooses it: the nearest one, a side of 1.5 times a power and more going up.
int mippower(int n);
// Scales an image to to_width x to_height with a box filter: each texel the mean of the source
// texels under it, weighted by the part of each it covers, rounded down.
void scaleimage(const unsigned char* src, int width, int height, int bytes_per_pixel,
                unsigned char* dst, int to_width, int to_height);
