// A run without a window: the callbacks' hooks replaced by recorders, the display clock by one
// the test sets, the map's results files by temporary files and its trial pool filled by hand.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <utility>
#include <vector>

#include "model/map.h"
#include "presentation/display.h"
#include "run/run.h"
#include "tests/support/glcontext.h"

struct runfixture : ::testing::Test {
  static double now;                                   // what the display clock reads, seconds
  static std::vector<int> cursors;                     // shapes passed to setcursor, in order
  static std::vector<std::string> texts;               // texts drawn since the last frame began
  static std::vector<int> renders;                     // phases drawn
  static int swaps;                                    // frames swapped
  static std::vector<std::pair<double, double>> hits;  // positions passed to checkclick
  static std::vector<int> answers;                     // checkclick's answers, used front first
  static int resets;                                   // map layouts made

  runhooks saved;
  double (*savedclock)();

  void SetUp() override {
    ASSERT_TRUE(makeglcontext(160, 100));
    saved = hooks;
    savedclock = display_clock;
    now = 0;
    cursors.clear(), texts.clear(), renders.clear(), hits.clear(), answers.clear();
    swaps = resets = 0;
    display_clock = [] { return now; };
    display.start_time = 0;
    display.height = 800;
    hooks.setcursor = [](int shape) { cursors.push_back(shape); };
    hooks.swapbuffers = [] { swaps++, texts.clear(); };
    hooks.drawtext = [](const char* t, float, float) { texts.push_back(t); };
    hooks.render = [](int phase) { renders.push_back(phase); };
    // What reset_map leaves behind that the run reads: an angle, fresh cells, no clicks.
    hooks.resetmap = [] {
      resets++;
      map.rotate_angle = 90;
      map.clicks.clear();
      map.target_cells.clear();
      map.distract_cells.clear();
      map.target_cells.add(7);
      map.distract_cells.add(12);
    };
    // The map's hit test records every event and answers as the test scripted.
    hooks.checkclick = [](double x, double y) {
      hits.push_back({x, y});
      map.clicks.push_back({static_cast<float>(x), static_cast<float>(y)});
      int a = answers.empty() ? 3 : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      return a;
    };
    prgm_stat = 0;
    watch_start = shift_start = rotate_start = wait_start = 0;
    nhits_t = nhits_d = nhits_e = total_hits = 0;
    for (int& c : count) c = 0;
    points = 200;
    map.trials.clear();
    map.trial_count = 0;
    map.num_y = 5;
    map.watch_length = 14, map.shift_length = 2, map.rotate_length = 2;
    map.wait_lengths[0] = 2, map.wait_lengths[1] = 0.5f;
    map.clicks.clear();
    map.results_file = tempfile(tabname);
    map.coord_file = tempfile(coordname);
  }

  void TearDown() override {
    hooks = saved;
    display_clock = savedclock;
    for (gen_node<trial*>* n = map.trials.head; n; n = n->next) delete n->value;
    map.trials.clear();
    fclose(map.results_file);
    fclose(map.coord_file);
    map.results_file = map.coord_file = nullptr;
    unlink(tabname);
    unlink(coordname);
  }

  char tabname[32] = "/tmp/sm_run_tab_XXXXXX";
  char coordname[32] = "/tmp/sm_run_coord_XXXXXX";

  static FILE* tempfile(char* name) {
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    return fdopen(fd, "w+");
  }

  static void addtrial(int targets, int distracts, int wait_index, bool instant, bool borders,
                       bool blank) {
    map.trials.add(new trial{targets, distracts, wait_index, instant, borders, blank});
  }

  // What has reached the file itself: a stream of its own sees nothing the run left buffered.
  static std::string contents(const char* name) {
    FILE* f = fopen(name, "r");
    EXPECT_NE(f, nullptr);
    std::string out;
    for (int c; f && (c = fgetc(f)) != EOF;) out += static_cast<char>(c);
    if (f) fclose(f);
    return out;
  }
};
