// glyphs: text in the toolkit's 9x15 bitmap font for a GL without bitmaps or raster positions
// (the browser's): each glyph a textured quad from an image of the font's glyphs, placed where
// the GL's raster position and bitmaps would put it, pixel for pixel. Owns that image (one
// texture, made on first use and kept for the run).
#pragma once

// Draws `text` as glyph quads in the current colour, the first glyph's origin at the point
// (x, y, z) of the current model-view and projection. A point outside the view volume draws
// nothing. Leaves the matrices, the matrix mode (model-view), the bound texture and the
// capabilities it uses as it found them.
void glyphtext(const char* text, float x, float y, float z);

// The font's table (font9x15.inc, written by scripts/make-font from freeglut's): for character
// code 0..255 its advance in pixels, then its rows of 2 bytes each, the bottom row first, the
// leftmost pixel in the high bit; and the rows of a glyph and its origin within its bitmap.
const unsigned char* glyphbitmap(int code);
void glyphorigin(int* rows, float* xorig, float* yorig);
