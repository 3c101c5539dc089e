// startup: the run's plain globals, the hooks the callbacks draw through, and what main needs
// around the toolkit: the data folder, init (with the swap interval and the sidecar's facts),
// flushing the three files, reshape and the exit tally. The handler objects and `path` are
// defined beside their classes; the run's files are opened by the map.
#include <GL/gl.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "foundation/random.h"
#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "presentation/mouse.h"
#include "presentation/platform.h"
#include "run/events.h"
#include "run/records.h"
#include "run/run.h"

int prgm_stat = 0;
double watch_start = 0;
double shift_start = 0;
double rotate_start = 0;
double wait_start = 0;
float nhits_t = 0;
float nhits_d = 0;
float nhits_e = 0;
float total_hits = 0;
int count[16] = {0};
float points = 200.0f;
bool pilot_run = false;
long long run_seed = -1;

runhooks hooks = {
    setpointer,
    swapframe,
    [](const char* text, float x, float y) { display.renderstring2d(text, 1, 1, 1, x, y); },
    [](int phase) { map.render(phase); },
    [] { map.reset_map(); },
    [](double x, double y) { return map.checkclick(x, y); },
    swapshowsframe(),
};

void derivepath(const char* argv0, char* out, int size) {
  assert(argv0 && out && size >= 2 && "derivepath: needs a path and room for at least \".\"");
  int i = static_cast<int>(strlen(argv0)) - 1;
  while (i >= 0 && argv0[i] != '.') i--;
  while (i >= 0 && argv0[i] != '/') i--;
  // No folder before the last '.', or one too long to hold: the current folder, which is where
  // an experimenter starting the program by hand expects the files. Only the second is a
  // surprise worth a word: the folder beside the program was meant.
  if (i >= size)
    fprintf(stderr, "the data folder %.*s is longer than %d characters; using the current folder\n",
            i, argv0, size - 1);
  if (i < 0 || i >= size) {
    strcpy(out, ".");
    return;
  }
  memcpy(out, argv0, i);
  out[i] = '\0';
}

namespace {

sidecarfacts facts;  // what the sidecar says, as last saved
bool facts_saved;    // init has saved the sidecar once

}  // namespace

void flushrecords() {
  // The first failure ends the run; exit still closes, and so flushes, the other files.
  if (!flushresults(map.results_file, map.results_name) ||
      !flushresults(map.coord_file, map.coord_name) ||
      !flushresults(map.events_file, map.events_name))
    exit(EXIT_FAILURE);
  filessaved();
}

int spatialmemory_phase() {
  return prgm_stat;
}

const char* spatialmemory_files() {
  static std::string names;
  names.clear();
  if (map.run_number < 0) return "";
  for (const char* name : {map.results_name, map.coord_name, map.events_name})
    names += std::string(name) + "\n";
  names += sidecarname(map.events_name) + "\n";
  return names.c_str();
}

void savefacts() {
  if (!facts_saved) return;
  sidecarfacts now = facts;
  now.screen_width = display.width;
  now.screen_height = display.height;
  fitviewport(display.width, display.height, now.viewport);
  now.refresh_interval_ms = events.refresh_ms();
  const bool known = !std::isnan(now.refresh_interval_ms);
  if (now.screen_width == facts.screen_width && now.screen_height == facts.screen_height &&
      std::equal(now.viewport, now.viewport + 4, facts.viewport) &&
      known == !std::isnan(facts.refresh_interval_ms))
    return;
  if (!savesidecar(sidecarname(map.events_name).c_str(), now)) exit(EXIT_FAILURE);
  facts = now;
  filessaved();
}

void fixglstate() {
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GEQUAL, opaquealpha());
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glClearDepth(1.5);  // clamped to 1.0: the far plane
  glEnable(GL_CULL_FACE);
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
  glClearColor(0, 0, 0, 0);
}

void init() {
  reseed();
  cam.init();
  fixglstate();
  display.init();
  mouse.init(200.0f, display.height, display.width);
  // Without results files a subject's hour would leave nothing behind: stop before any trial.
  // The map has already said why on standard error.
  if (!map.init()) exit(EXIT_FAILURE);
  // Room for many trials' rows, so that a row written in the frame loop only ever lands in
  // memory; the log reaches the disk at 'g' and 's'.
  setvbuf(map.events_file, nullptr, _IOFBF, 1 << 16);
  map.loadsettings("settings.txt");
  writetabheader(map.results_file);
  writecoordheader(map.coord_file);
  writeeventheader(map.events_file);
  flushrecords();

  const swapsync swaps = requestswapsync();
  auto glstring = [](GLenum name) {
    const GLubyte* s = glGetString(name);
    return std::string(s ? reinterpret_cast<const char*>(s) : "");
  };
  auto base = [](const char* name) { return std::string(strrchr(name, '/') + 1); };
  // The full name, so that a reviewer can tell which folder's design ran ("." says nothing).
  char folder[PATH_MAX];
  const std::string settings =
      std::string(realpath(path, folder) ? folder : path) + "/settings.txt";
  facts = {isolocaltime(time(nullptr)),
           map.run_number,
           base(map.results_name),
           base(map.coord_name),
           base(map.events_name),
           settings,
           sha256file(settings.c_str()),
           pilot_run,
           display.width,
           display.height,
           {0, 0, 0, 0},
           glstring(GL_VENDOR),
           glstring(GL_RENDERER),
           glstring(GL_VERSION),
           swaps.synced,
           swaps.extension,
           std::nan(""),
           run_seed};
  fitviewport(display.width, display.height, facts.viewport);
  if (!savesidecar(sidecarname(map.events_name).c_str(), facts)) exit(EXIT_FAILURE);
  facts_saved = true;
  filessaved();
}

void reshape(int width, int height) {
  display.resetwindsize();
  // The window does not carry the viewport along on X11; and the board must keep the 16:10
  // shape the projection is made for, so the picture is the largest centred 16:10 rectangle.
  int vp[4];
  fitviewport(width, height, vp);
  glViewport(vp[0], vp[1], vp[2], vp[3]);
}

void release() {
  writetally(stdout, count);
}
