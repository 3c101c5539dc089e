// platform: what differs between the desktop and the browser, behind one small interface.
// Each platform implements all of it in one file: platform_desktop.cpp (freeglut, GLX, the
// depth buffer read back) and platform_web.cpp (Emscripten's HTML5 API, WebGL through its GL
// emulation, requestAnimationFrame); CMake builds the one that fits the target. Everything else
// in the program is the same code on both.
//
// Input keeps the toolkit's numbering on every platform, since the event log records it:
// buttons 0 left, 1 middle, 2 right, 3 and 4 the wheel (a press and a release per notch);
// states GLUT_DOWN (0) and GLUT_UP (1); pointer shapes GLUT_CURSOR_NONE (101) and
// GLUT_CURSOR_LEFT_ARROW (1). Window pixels count x from the left and y from the top.
#pragma once

// What can become of the page that shows the experiment in a browser, which the subject can
// take out of full screen (Escape) or hide (another tab or window, the browser minimised). The
// desktop's full-screen window has nothing of the kind.
enum pagechange {
  page_fullscreen_left,  // the page is no longer full screen
  page_fullscreen_back,  // it is full screen again
  page_hidden,           // the page cannot be seen: frames stop until it is shown
  page_shown,            // it can be seen again
  page_changes           // the number of kinds
};

// The run's callbacks, which the platform calls on its one thread.
struct windowcallbacks {
  void (*frame)();                                     // draws one frame and swaps it
  void (*reshape)(int width, int height);              // the window's new size, pixels
  void (*keydown)(unsigned char key, int x, int y);    // a character key went down
  void (*keyup)(unsigned char key, int x, int y);      // and up again
  void (*mouse)(int button, int state, int x, int y);  // a button pressed or released
  void (*page)(int change);                            // a pagechange; never on the desktop
};

// Whether the platform reports pagechanges (the browser). The event log's sidecar lists their
// rows among its events only then, so the desktop's files stay as they always were.
bool reportspagechanges();

// Opens the program's window, titled `title`: full screen with the pointer hidden, or (pilot)
// a 1024 x 768 window at the screen's corner with the pointer left alone. `argc` and `argv`
// hold argv[0] and the toolkit's own options (the desktop's -display, -geometry, ...).
// Afterwards a GL context is current and windowsize answers.
void openwindow(int* argc, char** argv, const char* title, bool fullscreen);

// Hands the thread to the platform's loop, which calls `frame` continuously (the desktop, as
// often as the toolkit is idle) or once per display refresh (the browser), and the other
// callbacks as input comes. Never returns on the desktop; in the browser it returns at once,
// and the page's event loop runs everything from then on.
void runwindow(const windowcallbacks& callbacks);

void windowsize(int* width, int* height);  // the window's drawing area, pixels

void setpointer(int shape);  // GLUT_CURSOR_NONE or GLUT_CURSOR_LEFT_ARROW

// Hands the frame drawn to the display.
void swapframe();
// Whether that frame is on the screen once swapframe returns (the desktop: the swap waits for
// the refresh), or only once the frame callback has returned to the platform (the browser: the
// page composites it at the next refresh), when its time is known at the next frame's start.
bool swapshowsframe();

struct swapsync {
  const char* extension;  // what the sync was asked through; null when nothing could be asked
  bool synced;            // frames follow the display refresh: an interval of 1 or more granted
};
// Asks for frames synced to the display's refresh (swap interval 1) and says what was granted.
// The desktop asks GLX; without a current GLX context (an EGL test context) nothing is asked
// and nothing is granted. The browser's frames always follow the refresh.
swapsync requestswapsync();
// The first of GLX_EXT_swap_control, GLX_MESA_swap_control and GLX_SGI_swap_control that
// `extensions` (space-separated, may be null) names as a whole word; null when none is there.
const char* swapextension(const char* extensions);

// The reference of the alpha test that lets only fully opaque fragments through: 1 on the
// desktop. A browser's GPU, filtering a texture whose texels are all opaque, may return an
// alpha a rounding short of 1 (SwiftShader's trilinear filter does), which a test against 1
// would throw away: there the reference lies half a step of an 8-bit alpha below 1.
float opaquealpha();

// Draws `text` in the toolkit's 9x15 bitmap font, in the current colour, its first glyph's
// origin at the point (x, y, z) of the current model-view and projection: the desktop through
// the GL's raster position and the toolkit's bitmaps, the browser with quads from a glyph image
// (glyphtext, glyphs.h), pixel for pixel the same. A point outside the view volume draws
// nothing. Tests put the other here to compare the two.
extern void (*bitmaptext)(const char* text, float x, float y, float z);

// The depth buffer at window pixel (x, y), y from the bottom, into *depth. False where the
// platform cannot read the depth buffer back (WebGL); the caller then works the depth out.
// Tests put their own here to take the browser's way on the desktop.
extern bool (*readdepth)(int x, int y, float* depth);

// The run's files have just been written out and synced (at start-up, at 'g' and 's', and
// whenever the sidecar is rewritten). The desktop has nothing more to do; the browser tells the
// page, whose files live in memory, so that it can keep copies (spatialmemory_files, run.h,
// names them).
void filessaved();

// Moves the system pointer to (x, y), screen pixels from the top-left corner; pointer motion
// goes on from there. The desktop warps it through the toolkit; a browser cannot move it. Tests
// put a recorder of their own here.
extern void (*movepointer)(float x, float y);
