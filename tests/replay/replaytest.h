// What the replay's tests and benchmark share: a run recorded through the live path. The run's
// key and mouse callbacks and its phase loop drive the global map with fixed seeds, on a clock
// the fixture turns, in an off-screen context drawn as into a window: they write the three files
// of a run into a fresh data folder, and the sidecar is saved beside them as init saves it.
// Trials 1 and 2 are finished, trial 3 is cut short in WATCH. What the live path laid out and
// drew is kept for comparing.
#pragma once
#include <GL/glu.h>
#include <GL/glut.h>
#include <sys/stat.h>

#include <array>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "presentation/offscreen.h"
#include "run/events.h"
#include "run/records.h"
#include "run/run.h"

struct livetrial {
  std::vector<int> targets, distracts;                 // cells as laid out
  vec shift;                                           // shift_step
  std::array<std::vector<unsigned char>, 3> textures;  // map, under, background images
  std::vector<uint32_t> watch, pick;       // first WATCH and PICK frames, rows from the top
  std::vector<std::array<int, 2>> clicks;  // window pixels, y from the top
  std::vector<std::string> results;        // what each click hit
};

struct liverun {
  static constexpr int W = 480, H = 300;  // the recorded screen, pixels
  std::string dir;                        // the data folder
  std::vector<livetrial> trials;

  static liverun& get() {
    static liverun run;  // played once per process: the callbacks work on the global map
    return run;
  }
  std::string file(const std::string& name) const { return dir + "/" + name; }
  // A copy of the run's four files in a folder `name` beside them; the folder's full name.
  std::string copy(const std::string& name) const {
    const std::string folder = file(name);
    mkdir(folder.c_str(), 0755);
    for (const char* f :
         {"results0.txt", "results_coord0.txt", "results_events0.tsv", "results_events0.json"}) {
      std::ifstream in(file(f), std::ios::binary);
      std::ofstream(folder + "/" + f, std::ios::binary) << in.rdbuf();
    }
    return folder;
  }

 private:
  inline static unsigned seeds[2];
  inline static int taken;
  inline static double now;  // the display clock, seconds

  static std::vector<uint32_t> frame() {  // one frame of the phase loop at 60 a second
    now += 1.0 / 60;
    displayfunc();
    std::vector<uint32_t> px(W * H);
    glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, px.data());
    return px;
  }

  liverun() {
    char name[] = "/tmp/smreplayXXXXXX";
    snprintf(path, sizeof path, "%s", (dir = mkdtemp(name)).c_str());
    std::ofstream(file("settings.txt"))
        << "num_x: 6\nnum_y: 6\nborderwidth: 3\ndepth_sep: 0.05\nwatch_length: 0.1\n"
           "shift_length: 0.1\nrotate_length: 0.1\ntarcolsetstart:\n250 20 30\n40 50 60\nend:\n"
           "discolsetstart:\n7 8 9\nend:\ndiscolsetstart:\n70 180 90\nend:\nwait_lengths:\n"
           "0.1\nlength_end:\nrotation_angles:\n30\n-60\n120\nangle_end:\n"
           "num_trials_per_set: 3\nnum_with_borders: 2\nnum_instant_shifts: 1\n"
           "target_distract_sets:\n2 3\nset_end:\n";
    // The run's init, short of the window. (Drawn as into a window, the hit test reads its
    // depth from the mirrored row, a point of the same flat map: clicks keep their cells.)
    int vp[4];
    fitviewport(W, H, vp);
    makeglcontext(W, H), windowrows(), cam.init(), fixglstate(), windowviewport(vp, H);
    display_clock = [] { return now; };
    display.startclock();
    display.width = W, display.height = H;
    hooks.setcursor = [](int) {}, hooks.swapbuffers = [] {};
    hooks.drawtext = [](const char*, float, float) {};
    seeds[0] = seeds[1] = 77;  // the same trial set, drawn in the same order, every time
    seedsource = [] { return seeds[taken++ % 2]; };
    map.init();
    map.loadsettings("settings.txt");
    writetabheader(map.results_file), writecoordheader(map.coord_file);
    writeeventheader(map.events_file);
    sidecarfacts facts{};
    facts.screen_width = W, facts.screen_height = H;
    facts.viewport[0] = facts.viewport[1] = 0, facts.viewport[2] = W, facts.viewport[3] = H;
    savesidecar(sidecarname(map.events_name).c_str(), facts);
    frame();
    for (int k = 1; k <= 3; k++) {
      livetrial t;
      seeds[0] = 1000u + 7 * k, seeds[1] = 4000000000u + 13 * k, taken = 0;
      keydownfunc('g', 0, 0);
      for (gen_node<int>* c = map.target_cells.head; c; c = c->next) t.targets.push_back(c->value);
      for (gen_node<int>* c = map.distract_cells.head; c; c = c->next)
        t.distracts.push_back(c->value);
      t.shift = map.shift_step;
      int i = 0;
      for (rgbatex_t* x : {&map.map_tex, &map.under_tex, &map.background_tex})
        t.textures[i++].assign(x->data, x->data + 512 * 512 * 4);
      t.watch = frame();
      trials.push_back(t);
      if (k == 3) break;  // killed in WATCH: nothing after 'g' reached the files
      while (prgm_stat != 5) frame();
      trials.back().pick = frame();
      clickcells(trials.back());
      keydownfunc('s', 0, 0);
      frame();
    }
    seedsource = [] { return static_cast<unsigned>(time(nullptr)); };
    for (FILE** f : {&map.results_file, &map.coord_file, &map.events_file})
      fclose(*f), *f = nullptr;
  }

  // A target, a distractor, an empty cell and the target again, each pressed and released at
  // the centre of the cell where it now stands.
  static void clickcells(livetrial& t) {
    GLdouble mv[16], pr[16], x, y, z;
    GLint vp[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, mv), glGetDoublev(GL_PROJECTION_MATRIX, pr);
    glGetIntegerv(GL_VIEWPORT, vp);
    const double a = map.rotation * M_PI / 180;
    for (int cell : {t.targets[0], t.distracts[0], 7, t.targets[0]}) {
      const double ux = 0.7 * (cell / 6 + 0.5) / 6 - 0.35 + map.map_pos.x;
      const double uy = 0.7 * (cell % 6 + 0.5) / 6 - 0.35 + map.map_pos.y;
      gluProject(ux * cos(a) - uy * sin(a), ux * sin(a) + uy * cos(a), 0, mv, pr, vp, &x, &y, &z);
      for (int state : {GLUT_DOWN, GLUT_UP}) {
        const float before[3] = {nhits_t, nhits_d, total_hits};
        t.clicks.push_back({static_cast<int>(x), H - static_cast<int>(y)});
        mousefunc(GLUT_LEFT_BUTTON, state, t.clicks.back()[0], t.clicks.back()[1]);
        t.results.push_back(total_hits == before[2] ? "repeat"
                            : nhits_t > before[0]   ? "target"
                            : nhits_d > before[1]   ? "distractor"
                                                    : "empty");
      }
    }
  }
  ~liverun() { std::system(("rm -rf " + dir).c_str()); }
};
