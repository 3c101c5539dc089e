// glcontext: see glcontext.h.
#include "tests/support/glcontext.h"

#include <cstdio>
#define GL_GLEXT_PROTOTYPES  // the framebuffer calls are exported by libGL itself
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

bool makecontext() {
  auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!get_platform_display) {
    fprintf(stderr, "glcontext: EGL has no eglGetPlatformDisplayEXT\n");
    return false;
  }
  egl_display = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (egl_display == EGL_NO_DISPLAY || !eglInitialize(egl_display, nullptr, nullptr)) {
    fprintf(stderr, "glcontext: no surfaceless EGL display\n");
    return false;
  }
  eglBindAPI(EGL_OPENGL_API);
  // The surfaceless platform offers no window configs; a context without one draws into FBOs.
  egl_context = eglCreateContext(egl_display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
  if (egl_context == EGL_NO_CONTEXT ||
      !eglMakeCurrent(egl_display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl_context)) {
    fprintf(stderr, "glcontext: cannot make an EGL context current\n");
    return false;
  }
  return true;
}

}  // namespace

bool makeglcontext(int width, int height) {
  if (egl_context == EGL_NO_CONTEXT && !makecontext()) return false;
  if (!framebuffer) {
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(1, &colour_buffer);
    glGenRenderbuffers(1, &depth_buffer);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glBindRenderbuffer(GL_RENDERBUFFER, colour_buffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_buffer);
  glBindRenderbuffer(GL_RENDERBUFFER, depth_buffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_buffer);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    fprintf(stderr, "glcontext: framebuffer incomplete\n");
    return false;
  }
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glViewport(0, 0, width, height);
  return true;
}
