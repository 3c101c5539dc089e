// main: the program's entry. Opens the full-screen window, registers the callbacks and hands
// over to the toolkit; everything it calls lives in startup.cpp, phases.cpp and commands.cpp.
#include <GL/glut.h>

#include <cstdio>
#include <cstdlib>

#include "model/map.h"
#include "run/run.h"

int main(int argc, char** argv) {
  // Messages must show at once even when standard output goes to a file and the run is killed.
  setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  const char* self = argc > 0 && argv[0] ? argv[0] : "";
  atexit(release);
  derivepath(self, path, sizeof path);
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowPosition(0, 0);
  glutInitWindowSize(1024, 768);
  glutCreateWindow(self);
  glutReshapeFunc(reshape);
  glutDisplayFunc(displayfunc);
  glutIdleFunc(displayfunc);
  glutMouseFunc(mousefunc);
  glutKeyboardFunc(keydownfunc);
  glutKeyboardUpFunc(keyupfunc);
  glutIgnoreKeyRepeat(1);
  glutSetCursor(GLUT_CURSOR_NONE);
  glutFullScreen();
  init();
  glutMainLoop();
  return 0;
}
