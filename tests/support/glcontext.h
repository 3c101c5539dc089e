// glcontext: an off-screen OpenGL context for tests, with no X server.
// Mesa's surfaceless EGL platform gives a compatibility-profile context; drawing goes into a
// framebuffer object with a colour and a depth buffer of the requested size, bound and set as
// the viewport, so fixed-function drawing and glReadPixels work as in the real window.
#pragma once

// Makes a context current with a width x height framebuffer. Returns false (with the reason on
// standard error) when no context can be had. Calling it again reuses the context and resizes.
bool makeglcontext(int width, int height);
