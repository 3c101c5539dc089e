// offscreen: see offscreen.h. Owns the one EGL display, context and framebuffer of the process;
// they last until the process ends, as the run's window does.
#include "presentation/offscreen.h"

#include <cstdio>
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

namespace {

EGLDisplay egl_display = EGL_NO_DISPLAY;
EGLContext egl_context = EGL_NO_CONTEXT;
GLuint framebuffer = 0;
GLuint colour_buffer = 0;
GLuint depth_buffer = 0;

PFNGLGENFRAMEBUFFERSPROC gen_framebuffers;
PFNGLBINDFRAMEBUFFERPROC bind_framebuffer;
PFNGLGENRENDERBUFFERSPROC gen_renderbuffers;
PFNGLBINDRENDERBUFFERPROC bind_renderbuffer;
PFNGLRENDERBUFFERSTORAGEPROC renderbuffer_storage;
PFNGLFRAMEBUFFERRENDERBUFFERPROC framebuffer_renderbuffer;
PFNGLCHECKFRAMEBUFFERSTATUSPROC check_framebuffer_status;
PFNGLCLIPCONTROLPROC clip_control;

template <class F>
bool load(F& fn, const char* name, std::string* why) {
  fn = reinterpret_cast<F>(eglGetProcAddress(name));
  if (!fn) *why = std::string("the GL has no ") + name;
  return fn != nullptr;
}

bool makecontext(std::string* why) {
  auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!get_platform_display) {
    *why = "EGL has no eglGetPlatformDisplayEXT";
    return false;
  }
  egl_display = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (egl_display == EGL_NO_DISPLAY || !eglInitialize(egl_display, nullptr, nullptr)) {
    *why = "no surfaceless EGL display (Mesa's libegl-mesa0 is needed)";
    return false;
  }
  eglBindAPI(EGL_OPENGL_API);
  // The surfaceless platform offers no window configs; a context without one draws into FBOs.
  egl_context = eglCreateContext(egl_display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
  if (egl_context == EGL_NO_CONTEXT ||
      !eglMakeCurrent(egl_display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl_context)) {
    *why = "cannot make an EGL context current";
    return false;
  }
  return load(gen_framebuffers, "glGenFramebuffers", why) &&
         load(bind_framebuffer, "glBindFramebuffer", why) &&
         load(gen_renderbuffers, "glGenRenderbuffers", why) &&
         load(bind_renderbuffer, "glBindRenderbuffer", why) &&
         load(renderbuffer_storage, "glRenderbufferStorage", why) &&
         load(framebuffer_renderbuffer, "glFramebufferRenderbuffer", why) &&
         load(check_framebuffer_status, "glCheckFramebufferStatus", why);
}

bool makebuffers(int width, int height, std::string* why) {
  if (egl_context == EGL_NO_CONTEXT && !makecontext(why)) return false;
  if (!framebuffer) {
    gen_framebuffers(1, &framebuffer);
    gen_renderbuffers(1, &colour_buffer);
    gen_renderbuffers(1, &depth_buffer);
  }
  bind_framebuffer(GL_FRAMEBUFFER, framebuffer);
  bind_renderbuffer(GL_RENDERBUFFER, colour_buffer);
  renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_buffer);
  bind_renderbuffer(GL_RENDERBUFFER, depth_buffer);
  renderbuffer_storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_buffer);
  if (check_framebuffer_status(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    *why = "the GL cannot make a " + std::to_string(width) + " x " + std::to_string(height) +
           " framebuffer";
    return false;
  }
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glViewport(0, 0, width, height);
  return true;
}

bool say(const std::string& why, std::string* reason) {
  if (reason)
    *reason = why;
  else
    fprintf(stderr, "off-screen GL context: %s\n", why.c_str());
  return false;
}

}  // namespace

bool makeglcontext(int width, int height, std::string* reason) {
  std::string why;
  return makebuffers(width, height, &why) || say(why, reason);
}

bool windowrows(std::string* reason) {
  std::string why;
  if (!clip_control && !load(clip_control, "glClipControl", &why)) return say(why, reason);
  // Mesa keeps a window's rows from the top and turns the picture over as it maps it to them,
  // with the rasterization rules set for that; an upper-left clip origin does the same here.
  clip_control(GL_UPPER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
  return true;
}

void windowviewport(const int viewport[4], int height) {
  glViewport(viewport[0], height - viewport[1] - viewport[3], viewport[2], viewport[3]);
}
