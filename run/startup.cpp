// startup: the run's plain globals, the hooks the callbacks draw through, and what main needs
// around the toolkit: the data folder, init (with the swap interval and the sidecar's facts),
// flushing the three files, reshape and the exit tally. The handler objects and `path` are
// defined beside their classes; the run's files are opened by the map.
#include <GL/gl.h>
#include <sys/utsname.h>

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
double pick_start = 0;
float nhits_t = 0;
float nhits_d = 0;
float nhits_e = 0;
float total_hits = 0;
int count[16] = {0};
float points = 200.0f;
bool pilot_run = false;
const char* participant_id = nullptr;
const char* session_id = nullptr;
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

void designfacts(sidecarfacts* f) {
  auto base = [](const char* name) {
    const char* slash = strrchr(name, '/');
    return std::string(slash ? slash + 1 : name);
  };
  // The full name, so that a reviewer can tell which folder's design ran ("." says nothing).
  char folder[PATH_MAX];
  f->folder = realpath(path, folder) ? folder : path;
  f->run_number = map.run_number;
  f->results_file = base(map.results_name);
  f->coord_file = base(map.coord_name);
  f->events_file = base(map.events_name);
  f->settings_file = f->folder + "/settings.txt";
  // Read once more, right after the reader: the text kept is the design the run was built from.
  f->settings_text = readbytes(f->settings_file.c_str());
  f->settings_sha256 = f->settings_text ? sha256hex(*f->settings_text) : "";
  f->participant = participant_id ? std::optional<std::string>(participant_id) : std::nullopt;
  f->session = session_id ? std::optional<std::string>(session_id) : std::nullopt;
  f->wait_lengths.assign(map.wait_lengths, map.wait_lengths + map.num_wait_lengths);
  f->rotation_angles.assign(map.rotation_angles, map.rotation_angles + map.num_rotation_angles);
  f->shuffle_angles = map.shuffle_angles;
  f->shuffle_seed = map.shuffle_angles ? std::optional<unsigned>(map.shuffle_seed) : std::nullopt;
  // A pool is taken from its end: the order its trials get the angles is the pool reversed.
  f->angle_pools.clear();
  for (const auto& pool : map.angle_pools)
    f->angle_pools[pool.first].assign(pool.second.rbegin(), pool.second.rend());
}

std::string startupline(const sidecarfacts& f) {
  return "spatialmemory: data folder " + (f.folder.empty() ? "/" : f.folder) +
         "; this run's files: " + f.results_file + ", " + f.coord_file + ", " + f.events_file +
         ", " + sidecarname(f.events_file.c_str()) + "\n";
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

  facts = sidecarfacts();
  designfacts(&facts);
  // Which folder the run writes to is not always the one meant (a dot in a parent folder's
  // name moves the folder taken from the program's path): said before any trial.
  fputs(startupline(facts).c_str(), stderr);
  const swapsync swaps = requestswapsync();
  auto glstring = [](GLenum name) {
    const GLubyte* s = glGetString(name);
    return std::string(s ? reinterpret_cast<const char*>(s) : "");
  };
  utsname system;
  if (uname(&system) == 0)
    facts.operating_system =
        std::string(system.sysname) + " " + system.release + " " + system.machine;
  facts.started = isolocaltime(time(nullptr));
  facts.pilot = pilot_run;
  facts.seed = run_seed;
  facts.screen_width = display.width;
  facts.screen_height = display.height;
  fitviewport(display.width, display.height, facts.viewport);
  facts.gl_vendor = glstring(GL_VENDOR);
  facts.gl_renderer = glstring(GL_RENDERER);
  facts.gl_version = glstring(GL_VERSION);
  facts.swap_synced = swaps.synced;
  facts.swap_control = swaps.extension;
  facts.page_rows = reportspagechanges();
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
