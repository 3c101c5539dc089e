// swapsync: see swapsync.h. Owns the GLX calls for the swap interval; the window and its
// context belong to the toolkit.
#include "presentation/swapsync.h"

#include <GL/glx.h>

#include <cstring>

namespace {

const char* const known[] = {"GLX_EXT_swap_control", "GLX_MESA_swap_control",
                             "GLX_SGI_swap_control"};

template <class F>
F lookup(const char* name) {
  return reinterpret_cast<F>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

}  // namespace

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
  Display* display = glXGetCurrentDisplay();
  GLXDrawable drawable = glXGetCurrentDrawable();
  if (!display || !drawable) return out;
  int screen = 0;
  glXQueryContext(display, glXGetCurrentContext(), GLX_SCREEN, &screen);
  out.extension = swapextension(glXQueryExtensionsString(display, screen));
  if (!out.extension) return out;
  if (out.extension == known[0]) {
    auto set = lookup<PFNGLXSWAPINTERVALEXTPROC>("glXSwapIntervalEXT");
    if (!set) return out;
    set(display, drawable, 1);
    unsigned granted = 0;
    glXQueryDrawable(display, drawable, GLX_SWAP_INTERVAL_EXT, &granted);
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
