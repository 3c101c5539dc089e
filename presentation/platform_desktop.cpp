// platform_desktop: the platform of platform.h on a Linux desktop: freeglut's window, loop,
// input and bitmap font, GLX's swap control, and the depth buffer read back.
// freeglut owns the window and its context; this file only forwards to it.
#include "presentation/platform.h"

#include <GL/freeglut.h>
#include <GL/glx.h>

#include <cstring>

#include "presentation/display.h"

namespace {

void bitmapglyph(int character) {
  glutBitmapCharacter(GLUT_BITMAP_9_BY_15, character);
}

void warppointer(float x, float y) {
  // freeglut ends the program when asked about windows before glutInit, and there is nothing
  // to warp before a window exists.
  if (!glutGet(GLUT_INIT_STATE)) return;
  if (glutGetWindow() == 0) return;
  glutWarpPointer(static_cast<int>(x), static_cast<int>(y));
}

const char* const known[] = {"GLX_EXT_swap_control", "GLX_MESA_swap_control",
                             "GLX_SGI_swap_control"};

template <class F>
F lookup(const char* name) {
  return reinterpret_cast<F>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

}  // namespace

void (*display_glyph)(int character) = bitmapglyph;
void (*movepointer)(float x, float y) = warppointer;

void openwindow(int* argc, char** argv, const char* title, bool fullscreen) {
  // Set before glutInit so that the toolkit's -geometry, read there, can override it.
  glutInitWindowPosition(0, 0);
  glutInitWindowSize(1024, 768);
  glutInit(argc, argv);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutCreateWindow(title);
  glutIgnoreKeyRepeat(1);
  if (fullscreen) {
    glutSetCursor(GLUT_CURSOR_NONE);
    glutFullScreen();
  }
}

void runwindow(const windowcallbacks& c) {
  glutReshapeFunc(c.reshape);
  glutDisplayFunc(c.frame);
  glutIdleFunc(c.frame);
  glutMouseFunc(c.mouse);
  glutKeyboardFunc(c.keydown);
  glutKeyboardUpFunc(c.keyup);
  glutMainLoop();
}

void windowsize(int* width, int* height) {
  *width = glutGet(GLUT_WINDOW_WIDTH);
  *height = glutGet(GLUT_WINDOW_HEIGHT);
}

void setpointer(int shape) {
  glutSetCursor(shape);
}

void swapframe() {
  glutSwapBuffers();
}

bool swapshowsframe() {
  return true;
}

bool reportspagechanges() {
  return false;
}

const char* swapextension(const char* extensions) {
  if (!extensions) return nullptr;
  for (const char* name : known) {
    const size_t n = strlen(name);
    // A name is only a match as a whole word: GLX_EXT_swap_control_tear is another extension.
    for (const char* at = strstr(extensions, name); at; at = strstr(at + 1, name))
      if ((at == extensions || at[-1] == ' ') && (at[n] == ' ' || at[n] == '\0')) return name;
  }
  return nullptr;
}

swapsync requestswapsync() {
  swapsync out = {nullptr, false};
  Display* x11 = glXGetCurrentDisplay();
  GLXDrawable drawable = glXGetCurrentDrawable();
  if (!x11 || !drawable) return out;
  int screen = 0;
  glXQueryContext(x11, glXGetCurrentContext(), GLX_SCREEN, &screen);
  out.extension = swapextension(glXQueryExtensionsString(x11, screen));
  if (!out.extension) return out;
  if (out.extension == known[0]) {
    auto set = lookup<PFNGLXSWAPINTERVALEXTPROC>("glXSwapIntervalEXT");
    if (!set) return out;
    set(x11, drawable, 1);
    unsigned granted = 0;
    glXQueryDrawable(x11, drawable, GLX_SWAP_INTERVAL_EXT, &granted);
    out.synced = granted >= 1;
  } else if (out.extension == known[1]) {
    auto set = lookup<PFNGLXSWAPINTERVALMESAPROC>("glXSwapIntervalMESA");
    auto get = lookup<PFNGLXGETSWAPINTERVALMESAPROC>("glXGetSwapIntervalMESA");
    if (!set) return out;
    const int refused = set(1);
    out.synced = get ? get() >= 1 : refused == 0;
  } else {
    auto set = lookup<PFNGLXSWAPINTERVALSGIPROC>("glXSwapIntervalSGI");
    out.synced = set && set(1) == 0;
  }
  return out;
}

void (*bitmaptext)(const char* text, float x, float y, float z) = [](const char* text, float x,
                                                                     float y, float z) {
  glRasterPos3f(x, y, z);
  for (const char* c = text; *c; ++c) display_glyph(static_cast<signed char>(*c));
};

void filessaved() {}

float opaquealpha() {
  return 1.0f;
}

bool (*readdepth)(int x, int y, float* depth) = [](int x, int y, float* depth) {
  glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, depth);
  return true;
};
