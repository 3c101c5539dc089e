// offscreen: an OpenGL context without any window or X server, for drawing the program's
// pictures into memory (spatialmemory-replay) and for the tests that draw or read back pixels.
// Mesa's surfaceless EGL platform gives a compatibility-profile context; drawing goes into a
// framebuffer object with a colour and a depth buffer of the requested size, bound and set as
// the viewport, so fixed-function drawing and glReadPixels work as in the real window. What is
// drawn, and the GL state it is drawn with, belong to the callers.
#pragma once
#include <string>

// Makes a context current with a width x height framebuffer (RGBA 8 bits a channel, 24-bit
// depth). Calling it again reuses the context and resizes the buffers. Returns false when no
// context can be had: the reason then goes to *reason, or to standard error when reason is
// null.
bool makeglcontext(int width, int height, std::string* reason = nullptr);

// From now on draws as Mesa draws into a window: the picture stands upside down in the
// framebuffer, its top row first, and is rasterized by a window's rules, so a frame read back
// from the buffer's start is the window's picture from its top row, pixel for pixel. (Drawn the
// GL's usual way round, about one pixel in a hundred of a textured frame comes out otherwise.)
// Viewports then count their y from the framebuffer's top: set them with windowviewport. False,
// with the reason as makeglcontext gives it, when the GL cannot (it needs glClipControl).
bool windowrows(std::string* reason = nullptr);

// glViewport for a window-order framebuffer `height` rows high, from a viewport as the window
// has it: x, y from the bottom, width, height.
void windowviewport(const int viewport[4], int height);
