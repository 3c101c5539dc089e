// platform_web: the platform of platform.h in a web browser, compiled by Emscripten: a WebGL
// canvas drawn through Emscripten's GL emulation, input from the page's events, and frames on
// requestAnimationFrame. The page's side of it (the canvas and its size, the listeners, the
// frame loop, the pointer's shape) is web/library.js; this file holds the run's callbacks and
// turns the page's events into the toolkit's numbering.
#include "presentation/platform.h"

#include <emscripten.h>

#include <cstring>

#include "presentation/glyphs.h"

// web/library.js
extern "C" {
int smweb_createcontext();                       // the WebGL context on the page's canvas
void smweb_canvassize(int* width, int* height);  // its drawing buffer, pixels
void smweb_setcursor(int visible);               // the pointer over the canvas shown or not
void smweb_listen();                             // the listeners and the frame loop, from now on
void smweb_filessaved();                         // tells the page (Module.onFilesSaved)
}

namespace {

windowcallbacks run = {};          // the run's callbacks; null until runwindow
int pointer_x = 0, pointer_y = 0;  // the pointer's last position over the canvas, pixels

}  // namespace

// Called by web/library.js, each inside the page's guard that ends the run cleanly on exit().
extern "C" {

EMSCRIPTEN_KEEPALIVE void smweb_frame() {
  if (run.frame) run.frame();
}

EMSCRIPTEN_KEEPALIVE void smweb_resize(int width, int height) {
  if (run.reshape) run.reshape(width, height);
}

// A character typed (a one-character key name, already without repeats); `down` 1 or 0.
EMSCRIPTEN_KEEPALIVE void smweb_key(int character, int down) {
  if (character < 1 || character > 255) return;
  void (*callback)(unsigned char, int, int) = down ? run.keydown : run.keyup;
  if (callback) callback(static_cast<unsigned char>(character), pointer_x, pointer_y);
}

// A button pressed (state 0) or released (state 1) at canvas pixel (x, y) from the top left:
// 0 left, 1 middle, 2 right, as the toolkit numbers them; the wheel arrives as 3 (up) or 4
// (down), a press and a release per notch, as the toolkit delivers it.
EMSCRIPTEN_KEEPALIVE void smweb_mouse(int button, int state, int x, int y) {
  pointer_x = x, pointer_y = y;
  if (run.mouse) run.mouse(button, state, x, y);
}

// The page left or regained full screen, or was hidden or shown again: a pagechange.
EMSCRIPTEN_KEEPALIVE void smweb_page(int change) {
  if (change >= 0 && change < page_changes && run.page) run.page(change);
}

}  // extern "C"

void openwindow(int*, char**, const char*, bool fullscreen) {
  // The page asks for full screen itself (a browser grants it only to a user's gesture) and
  // the canvas fills the page; a pilot run leaves the pointer alone.
  smweb_createcontext();
  if (fullscreen) smweb_setcursor(0);
}

void runwindow(const windowcallbacks& callbacks) {
  run = callbacks;
  smweb_listen();
}

void windowsize(int* width, int* height) {
  smweb_canvassize(width, height);
}

void setpointer(int shape) {
  smweb_setcursor(shape != 101 /* GLUT_CURSOR_NONE */);
}

void swapframe() {
  // The browser composites what was drawn once the frame callback returns.
}

bool swapshowsframe() {
  return false;
}

bool reportspagechanges() {
  return true;
}

swapsync requestswapsync() {
  return {"requestAnimationFrame", true};
}

void (*bitmaptext)(const char* text, float x, float y, float z) = glyphtext;

float opaquealpha() {
  return 1.0f - 0.5f / 255;
}

void filessaved() {
  smweb_filessaved();
}

bool (*readdepth)(int x, int y, float* depth) = [](int, int, float*) { return false; };

void (*movepointer)(float x, float y) = [](float, float) {};
