// main: the program's entry. Reads the command line, opens the window (full screen, or a pilot
// window) and hands the callbacks over to the platform's loop; the options are options.cpp's,
// the window and the loop the platform's (presentation/platform.h), everything the callbacks do
// lives in startup.cpp, phases.cpp and commands.cpp.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/map.h"
#include "presentation/platform.h"
#include "run/options.h"
#include "run/run.h"

int main(int argc, char** argv) {
  // Messages must show at once even when standard output goes to a file and the run is killed.
  setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  char noname[] = "";
  char* nameonly[] = {noname, nullptr};
  options o = argc > 0 && argv[0] ? parseoptions(argc, argv) : parseoptions(1, nameonly);
  switch (o.what) {
    case options::help:
      fputs(usagetext().c_str(), stdout);
      return 0;
    case options::version:
      printf("spatialmemory %s\n", SPATIALMEMORY_VERSION);
      return 0;
    case options::usage:
      fprintf(stderr, "spatialmemory: %s\n%s", o.mistake.c_str(), usagetext().c_str());
      return 2;
    case options::refused:
      fprintf(stderr, "spatialmemory: %s\n", o.mistake.c_str());
      return 2;
    case options::run:
      break;
  }
  std::string why;
  if (o.folder && !takefolder(o.folder, path, sizeof path, &why)) {
    fprintf(stderr, "spatialmemory: %s\n", why.c_str());
    return EXIT_FAILURE;
  }
  pilot_run = o.window;
  participant_id = o.participant;
  session_id = o.session;
  if (o.seed >= 0) {
    // Every reseed takes the next seed, so each trial's layout still has seeds of its own.
    static unsigned next;
    next = static_cast<unsigned>(o.seed);
    run_seed = o.seed;
    seedsource = [] { return next++; };
  }
  const char* self = o.toolkit[0];
  atexit(release);
  if (!o.folder) derivepath(self, path, sizeof path);
  int toolkit_argc = static_cast<int>(o.toolkit.size());
  o.toolkit.push_back(nullptr);
  openwindow(&toolkit_argc, o.toolkit.data(), self, !pilot_run);
  // The experimenter shares the desk with other windows: the pointer stays as it is.
  if (pilot_run) hooks.setcursor = [](int) {};
  init();
  runwindow({displayfunc, reshape, keydownfunc, keyupfunc, mousefunc, pagefunc});
  return 0;
}
