// What the replay's tests and benchmark share: a run recorded through the live path. The run's
// own 'g', mouse and 's' callbacks drive the global map with fixed seeds in an off-screen
// context the size of the recorded screen, writing real results files into a fresh folder;
// beside them go the event log rows and the sidecar the run writes. Two trials are finished,
// the third is cut short after 'g'. What the live path laid out and drew is kept for comparing.
#pragma once
#include <GL/glu.h>
#include <GL/glut.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "presentation/offscreen.h"
#include "run/records.h"
#include "run/run.h"

struct livetrial {
  unsigned seeds[2];                    // seed_layout, seed_cells given to the layout
  std::vector<int> targets, distracts;  // cells as laid out
  vec shift;                            // shift_step
  float angle;                          // rotate_angle
  std::array<std::vector<unsigned char>, 3> textures;  // map, under, background images
  std::vector<uint32_t> watch, pick;       // frames read back, rows from the bottom, BGRA
  std::vector<std::array<int, 2>> clicks;  // window pixels, y from the top
  std::vector<std::string> results;        // what each click hit
};

struct liverun {
  static constexpr int W = 480, H = 300;  // the recorded screen, pixels
  std::string dir;                        // the data folder, no trailing '/'
  std::vector<livetrial> trials;

  static liverun& get() {
    static liverun run;  // played once per process: the callbacks work on the global map
    return run;
  }
  std::string file(const std::string& name) const { return dir + "/" + name; }

 private:
  inline static unsigned seeds[2];
  inline static int taken;

  static std::string row(const std::string& trial, const std::string& event,
                         std::vector<std::pair<int, std::string>> values) {
    std::vector<std::string> f(35, "n/a");
    f[0] = "1.000000", f[2] = trial, f[3] = event;
    for (auto& [column, value] : values) f[column] = value;
    std::string line;
    for (const std::string& v : f) line += (line.empty() ? "" : "\t") + v;
    return line + "\n";
  }
  static std::vector<uint32_t> readframe() {
    std::vector<uint32_t> px(W * H);
    glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, px.data());
    return px;
  }

  liverun() {
    char name[] = "/tmp/smreplayXXXXXX";
    dir = mkdtemp(name);
    makeglcontext(W, H);
    cam.init();
    fixglstate();
    int vp[4];
    fitviewport(W, H, vp);
    glViewport(vp[0], vp[1], vp[2], vp[3]);
    display.width = W, display.height = H;
    hooks.setcursor = [](int) {}, hooks.swapbuffers = [] {};
    hooks.drawtext = [](const char*, float, float) {};
    // The trial set's coins and the order trials are drawn in come out the same every time.
    seeds[0] = seeds[1] = 77;
    seedsource = [] { return seeds[taken++ % 2]; };
    mapdefaults(map);
    map.results_file = fopen(file("results0.txt").c_str(), "w");
    map.coord_file = fopen(file("results_coord0.txt").c_str(), "w");
    const std::string settings =
        "num_x: 6\nnum_y: 6\nborderwidth: 3\ndepth_sep: 0.05\ntarcolsetstart:\n250 20 30\n"
        "40 50 60\nend:\ndiscolsetstart:\n7 8 9\nend:\ndiscolsetstart:\n70 180 90\nend:\n"
        "wait_lengths:\n0.5\nlength_end:\nrotation_angles:\n30\n-60\n120\nangle_end:\n"
        "num_trials_per_set: 3\nnum_with_borders: 2\nnum_instant_shifts: 1\n"
        "target_distract_sets:\n2 3\nset_end:\n";
    FILE* in = fmemopen(const_cast<char*>(settings.data()), settings.size(), "r");
    readsettings(map, in, nullptr);
    fclose(in);
    writetabheader(map.results_file), writecoordheader(map.coord_file);
    std::string log =
        "onset\tduration\ttrial\tevent\tframe\tframes\tset_length\tframe_median_ms\t"
        "frame_max_ms\tlate_frames\ttargets\tdistractors\tborders\tblank\tinstant\twait_length\t"
        "rotate_angle\tshift_x\tshift_y\tlayout_ms\tseed_layout\tseed_cells\tx_px\ty_px\tgrid_x\t"
        "grid_y\tcol\trow\tresult\trt\ttargets_hit\tdistracts_hit\tempty_hit\ttotal_hit\tscore\n";
    for (int k = 1; k <= 3; k++) {
      livetrial t;
      seeds[0] = t.seeds[0] = 1000u + 7 * k, seeds[1] = t.seeds[1] = 4000000000u + 13 * k;
      taken = 0;
      display.frame_count = 5000 + 37 * k;
      const std::string n = std::to_string(k), frame = std::to_string(5000 + 37 * k);
      keydownfunc('g', 0, 0);
      for (gen_node<int>* c = map.target_cells.head; c; c = c->next) t.targets.push_back(c->value);
      for (gen_node<int>* c = map.distract_cells.head; c; c = c->next)
        t.distracts.push_back(c->value);
      t.shift = map.shift_step, t.angle = map.rotate_angle;
      int i = 0;
      for (rgbatex_t* x : {&map.map_tex, &map.under_tex, &map.background_tex})
        t.textures[i++].assign(x->data, x->data + 512 * 512 * 4);
      char angle[32], wait[32];
      snprintf(angle, sizeof angle, "%f", map.rotate_angle);
      snprintf(wait, sizeof wait, "%f", map.wait_length);
      log += row(n, "trial_start",
                 {{4, frame},
                  {10, std::to_string(map.num_targets)},
                  {11, std::to_string(map.num_distracts)},
                  {12, std::to_string(map.borders)},
                  {13, std::to_string(map.blank_wait)},
                  {14, std::to_string(map.instant_shift)},
                  {15, wait},
                  {16, angle},
                  {17, std::to_string(static_cast<int>(t.shift.x))},
                  {18, std::to_string(static_cast<int>(t.shift.y))},
                  {20, std::to_string(t.seeds[0])},
                  {21, std::to_string(t.seeds[1])}});
      displayfunc();  // the first WATCH frame
      t.watch = readframe();
      if (k == 3) {  // killed in WATCH: its row never reached the disc
        trials.push_back(t);
        break;
      }
      log += row(n, "WATCH", {{4, frame}, {5, "1"}});
      // The end of SHIFT and the first WAIT frame, as the phase loop makes them, then PICK.
      map.finishshift();
      prgm_stat = 4;
      map.render(3);
      prgm_stat = 5;
      displayfunc();
      t.pick = readframe();
      GLdouble mv[16], pr[16], x, y, z;
      GLint vp[4];
      glGetDoublev(GL_MODELVIEW_MATRIX, mv), glGetDoublev(GL_PROJECTION_MATRIX, pr);
      glGetIntegerv(GL_VIEWPORT, vp);
      const double a = map.rotation * M_PI / 180;
      std::vector<std::string> pick_rows;
      // A target, a distractor, an empty cell, the target again; each a press and a release.
      for (int cell : {t.targets[0], t.distracts[0], 7, t.targets[0]}) {
        const double ux = 0.7 * (cell / 6 + 0.5) / 6 - 0.35 + map.map_pos.x;
        const double uy = 0.7 * (cell % 6 + 0.5) / 6 - 0.35 + map.map_pos.y;
        gluProject(ux * cos(a) - uy * sin(a), ux * sin(a) + uy * cos(a), 0, mv, pr, vp, &x, &y, &z);
        for (int state : {GLUT_DOWN, GLUT_UP}) {
          const float before[4] = {nhits_t, nhits_d, nhits_e, total_hits};
          t.clicks.push_back({static_cast<int>(x), H - static_cast<int>(y)});
          mousefunc(GLUT_LEFT_BUTTON, state, t.clicks.back()[0], t.clicks.back()[1]);
          t.results.push_back(total_hits == before[3] ? "repeat"
                              : nhits_t > before[0]   ? "target"
                              : nhits_d > before[1]   ? "distractor"
                                                      : "empty");
          pick_rows.push_back(row(n, "click",
                                  {{22, std::to_string(t.clicks.back()[0])},
                                   {23, std::to_string(t.clicks.back()[1])},
                                   {26, "0"},
                                   {27, "0"},
                                   {28, t.results.back()}}));
        }
      }
      log += row(n, "PICK", {{4, frame}, {5, "1"}});
      for (const std::string& r : pick_rows) log += r;
      log += row(n, "trial_end", {{34, std::to_string(nhits_t - nhits_d - nhits_e)}});
      keydownfunc('s', 0, 0);
      scoreidle();
      trials.push_back(t);
    }
    seedsource = [] { return static_cast<unsigned>(time(nullptr)); };
    fclose(map.results_file), fclose(map.coord_file);
    map.results_file = map.coord_file = nullptr;
    std::ofstream(file("results_events0.tsv")) << log;
    std::ofstream(file("results_events0.json"))
        << "{\"description\": \"a log\", \"columns\": {\"onset\": {\"units\": \"s\"}},\n"
           "\"screen_width\": 480, \"screen_height\": 300, \"viewport\": [0, 0, 480, 300]}\n";
  }
  ~liverun() { std::system(("rm -rf " + dir).c_str()); }
};
