// The run without a window: recording hooks, a clock the test sets, results files read by name.
#include <GL/glut.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/random.h"
#include "model/map.h"
#include "presentation/display.h"
#include "run/events.h"
#include "run/records.h"
#include "run/run.h"
#include "presentation/offscreen.h"
#include "presentation/platform.h"

namespace {

struct Run : ::testing::Test {
  inline static double now;                         // the display clock, seconds
  inline static std::vector<int> cursors, renders;  // pointer shapes set; phases drawn
  inline static std::vector<std::string> texts;     // texts drawn, in order
  inline static int resets;                         // map layouts made
  inline static int checks;                         // clicks handed to the hit test
  char tabname[32] = "/tmp/sm_tab_XXXXXX", coordname[32] = "/tmp/sm_coord_XXXXXX";
  char eventsname[32] = "/tmp/sm_events_XXXXXX";

  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the GL context runs threads
    ASSERT_TRUE(makeglcontext(160, 100));
    now = resets = checks = 0, cursors.clear(), texts.clear(), renders.clear();
    display_clock = [] { return now; };
    display.start_time = display.frame_count = 0, display.height = 800;
    hooks.swapbuffers = [] {}, hooks.setcursor = [](int shape) { cursors.push_back(shape); };
    hooks.drawtext = [](const char* t, float, float) { texts.push_back(t); };
    hooks.render = [](int phase) { renders.push_back(phase); };
    hooks.resetmap = [] { resets++, map.rotate_angle = 90, map.clicks.clear(); };
    hooks.checkclick = [](double x, double y) {  // 3 for a spot clicked before, as the map does
      int again = std::count(map.clicks.begin(), map.clicks.end(), std::pair<float, float>(x, y));
      map.clicks.emplace_back(x, y), map.click_column = x, map.click_row = y, checks++;
      // x ending in 4 or 9 is a spot off the grid, which takes no cell; else x names the kind.
      return static_cast<int>(x) % 5 == 4 ? 4 : again ? 3 : static_cast<int>(x) % 3;
    };
    map.target_cells.clear(), map.distract_cells.clear(), map.clicks.clear();
    map.trials.clear(), map.trial_count = 0, map.num_y = 5, map.wait_lengths[1] = 0.5f;
    map.results_file = fdopen(mkstemp(tabname), "w");
    map.coord_file = fdopen(mkstemp(coordname), "w");
    map.events_file = fdopen(mkstemp(eventsname), "w");
    strcpy(map.results_name, tabname), strcpy(map.events_name, eventsname);
    events = eventlog();
    prgm_stat = 0, points = 200, nhits_t = nhits_d = nhits_e = total_hits = 0;
    pick_start = 0;  // a test that sets PICK itself finds it on screen
    std::fill(count, count + 16, 0);
  }
  void TearDown() override {
    fclose(map.results_file), fclose(map.coord_file), fclose(map.events_file);
    unlink(tabname), unlink(coordname), unlink(eventsname);
    map.results_file = map.coord_file = map.events_file = nullptr;
  }

  static void press(unsigned char key) { keydownfunc(key, 0, 0), keyupfunc(key, 0, 0); }
  // A press and its release at window position (x, y), with whichever button.
  static void click(int x, int y) { mousefunc(0, GLUT_DOWN, x, y), mousefunc(0, GLUT_UP, x, y); }
  // What has reached the file itself: a stream of its own sees nothing the run left buffered.
  static std::string ondisk(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

}  // namespace

TEST(Records, ClicksSortOnceEachWithNotANumberLastAndTheTallyTakesNineToTwenty) {
  std::vector<std::pair<float, float>> c;  // columns falling, row 1 twice in each
  for (int i = 0; i < 60; i++) c.push_back({i % 4 ? 20.0f - i / 4 : std::nanf(""), i % 2});
  sortclicks(&c);  // enough clicks to leave insertion sort, where a bad order reads past the end
  ASSERT_EQ(c.size(), 45u);  // a NaN never equals anything, so none is merged away
  for (size_t i = 1; i < 30; i++) EXPECT_LT(c[i - 1], c[i]);
  EXPECT_TRUE(std::all_of(c.begin() + 30, c.end(), [](auto p) { return std::isnan(p.first); }));
  // The exit tally takes 9 to 20 of each, in bands of three.
  EXPECT_EQ(std::vector<int>({tallycell(9, 9), tallycell(20, 20), tallycell(14, 11),
                              tallycell(21, 9), tallycell(9, 21), tallycell(8, 20)}),
            std::vector<int>({0, 15, 4, -1, -1, -1}));
}

TEST(DerivePath, FolderBeforeTheLastDotElseTheCurrentFolder) {
  std::string folder = "/" + std::string(254, 'a');  // 255 characters: the most 256 bytes hold
  auto expect = [](const std::vector<std::string>& pairs) {  // program path, its data folder
    for (size_t i = 0; i < pairs.size(); i += 2) {
      char out[256];
      derivepath(pairs[i].c_str(), out, sizeof out);
      EXPECT_EQ(out, pairs[i + 1]) << pairs[i];
    }
  };
  ::testing::internal::CaptureStderr();
  expect({"/opt/exp-1.5/bin/run", "/opt", "/Task.app/Contents/MacOS/Task", "",
          "./build/spatialmemory", ".", "", ".", folder + "/x.app/run", folder,
          folder + "b/x.app/run", "."});
  // Only the folder too long to hold is a surprise worth a word.
  EXPECT_EQ(
      ::testing::internal::GetCapturedStderr(),
      "the data folder " + folder + "b is longer than 255 characters; using the current folder\n");
}

TEST_F(Run, IdleScoresOnceEachPhaseLastsItsLengthAndIsShownInTheFrameItRunsOut) {
  nhits_t = 4.5f, nhits_d = 1.5f, nhits_e = 0.5f;  // each count is rounded up on its own
  displayfunc();
  displayfunc();
  EXPECT_EQ(texts, (std::vector<std::string>{"Press 'g' to start.", "points: 202.000000",
                                             "Press 'g' to start.", "points: 202.000000"}));
  map.watch_length = 1, map.shift_length = 2, map.rotate_length = 3, map.wait_length = 0;
  map.num_x = 4, map.map_width = 2, map.shift_step = vec(1, 0), map.map_pos = vec();
  prgm_stat = 1, watch_start = 0;
  // At each phase change: the clock, the label and phase drawn, where the slide stands.
  std::vector<std::tuple<double, std::string, int, float>> changes;
  for (now = 0; now < 10; now += 0.25) {
    int before = prgm_stat;
    texts.clear();
    displayfunc();
    if (prgm_stat != before) changes.push_back({now, texts[0], renders.back(), map.map_pos.x});
    EXPECT_EQ(cursors, std::vector<int>(prgm_stat == 5, GLUT_CURSOR_LEFT_ARROW));
  }
  // Each phase is timed from its first frame; WAIT, of length 0, gets one frame; the slide ends
  // one cell (2 / 4) on as SHIFT ends.
  EXPECT_EQ(changes, (decltype(changes){{1.25, "WATCH", 0, 0},
                                        {3.75, "SHIFT", 1, 0.5f},
                                        {7.25, "ROTATE", 2, 0.5f},
                                        {7.5, "WAIT", 3, 0.5f}}));
  EXPECT_EQ(texts, (std::vector<std::string>{"PICK", "press 's' to finish"}));  // no time limit
  EXPECT_EQ(renders.back(), 4);
  EXPECT_EQ(display.frame_count, 42);
  EXPECT_EQ(nextphase(1, 16.0, 2.0f, 14.0f), 1);  // strictly greater, in double precision
  EXPECT_EQ(nextphase(1, 16.000001, 2.0f, 14.0f), 2);
  // A clock that moves on at every reading: the next phase is over at once, yet waits a frame.
  display_clock = [] { return now += 0.25; };
  prgm_stat = 2, shift_start = 0, map.rotate_length = 0;
  displayfunc();
  EXPECT_EQ(prgm_stat, 3);
}

// In the browser a frame reaches the screen only after displayfunc has returned: it is taken as
// shown at the start of the next call. Each phase then starts a frame later on the clock, yet
// every frame shows the same phase as where the swap waits for the screen.
TEST_F(Run, FramesShownAfterTheCallAreTimedAtTheNextAndShowTheSamePhases) {
  map.watch_length = 1, map.shift_length = 0.5f, map.rotate_length = 0.5f, map.wait_length = 0;
  map.num_x = 4, map.map_width = 2, map.shift_step = vec(1, 0), map.map_pos = vec();
  std::vector<std::string> labels[2];
  std::vector<double> onsets[2];
  for (bool later : {false, true}) {
    hooks.swap_shows_frame = !later;
    prgm_stat = 1, watch_start = INFINITY;
    for (now = 0; now < 4; now += 0.25) {
      texts.clear();
      displayfunc();
      labels[later].push_back(texts.at(0));
    }
    onsets[later] = {watch_start, shift_start, rotate_start, wait_start};
  }
  hooks.swap_shows_frame = true;
  displayfunc();  // takes the last frame as shown, as the next frame would
  EXPECT_EQ(labels[0], labels[1]);
  EXPECT_EQ(labels[1][15], "PICK");
  for (int phase = 0; phase < 4; phase++) EXPECT_EQ(onsets[1][phase], onsets[0][phase] + 0.25);
}

TEST_F(Run, KeysActOnlyInTheirPhasesAndAWholeTrialIsOnDiskAtGAndAtS) {
  map.trials.add(new trial{12, 15, 1, true, true, false});
  for (int stat = 0; stat <= 5; stat++) {
    prgm_stat = stat;
    for (char key : std::string("GS") + (stat == 0 ? "s" : stat == 5 ? "g" : "gs")) press(key);
    if (stat < 5) click(50, 50);
    EXPECT_EQ(prgm_stat, stat);
  }
  EXPECT_EQ(resets + map.trial_count + total_hits + map.clicks.size() + cursors.size(), 0);
  mousefunc(GLUT_RIGHT_BUTTON, GLUT_UP, 5, 5);  // in PICK any button and state is a click
  EXPECT_EQ(nhits_e + total_hits, 2);           // left unscored: the next 'g' clears them
  prgm_stat = 0, now = 7.25;
  press('g');
  EXPECT_EQ(prgm_stat, 1);
  EXPECT_TRUE(std::isinf(watch_start));  // WATCH is timed from its first frame on screen
  // On disk at once; what the records hold in full is the end-to-end run's to check.
  const std::string tab = "1\t12\t15\t1\t0\t1\t0.500000\t90.000000\t";
  EXPECT_EQ(ondisk(tabname) + ondisk(coordname).substr(0, 3), tab + "1  ");
  prgm_stat = 5;
  for (int x : {31, 30}) click(x, 800 - x);  // y counted from the top; x % 3 the kind of cell
  press('s');
  EXPECT_EQ(prgm_stat, 0);
  EXPECT_EQ(cursors, std::vector<int>{GLUT_CURSOR_NONE});
  EXPECT_EQ(ondisk(tabname), tab + "1.000000\t1.000000\t0.000000\t2.000000\t\n");
  // Four events on two spots: recorded once each, in order.
  EXPECT_EQ(map.clicks, (std::vector<std::pair<float, float>>{{30, 30}, {31, 31}}));
}

TEST_F(Run, AFileThatCannotBeWrittenEndsTheRunAtGBeforeTheTrialAndAtSAfterItsRecord) {
  // Messages go to standard output; the death test reads standard error.
  EXPECT_EXIT((dup2(2, 1), press('g')), ::testing::ExitedWithCode(1), "no trials to run");
  map.trials.add(new trial{9, 12, 1, false, false, false});
  FILE* tab = map.results_file;
  map.results_file = fopen("/dev/full", "w");
  strcpy(map.results_name, "/data/results4.txt");
  // Had the trial started, the statement would go on to exit with status 0.
  EXPECT_EXIT((press('g'), exit(0)), ::testing::ExitedWithCode(1),
              "cannot write the results file /data/results4.txt: No space left on device\n");
  fclose(map.results_file);
  map.results_file = tab;
  press('g');
  for (now = 1; prgm_stat != 5; now += 1) displayfunc();
  displayfunc();  // PICK on screen
  fclose(map.events_file);
  map.events_file = fopen("/dev/full", "w");
  strcpy(map.events_name, "/data/results_events4.tsv");
  EXPECT_EXIT((press('s'), exit(0)), ::testing::ExitedWithCode(1),
              "cannot write the results file /data/results_events4.tsv: No space left on device\n");
}

// A row in short: its cells in order, each run of n/a as "n/a" or "n/a*<count>".
static std::string compact(const std::string& line) {
  std::string out, cell;
  std::vector<std::string> cells;
  std::istringstream in(line);
  while (std::getline(in, cell, '\t')) cells.push_back(cell);
  for (size_t i = 0, n; i < cells.size(); i += n) {
    for (n = 1; cells[i] == "n/a" && i + n < cells.size() && cells[i + n] == "n/a";) n++;
    out += (out.empty() ? "" : " ") + cells[i] + (n > 1 ? "*" + std::to_string(n) : "");
    if (cells[i] != "n/a") n = 1;
  }
  return out;
}

TEST_F(Run, TheLogTimesEachPhaseFromItsFirstSwapAndKeepsEveryClickInOrder) {
  map.watch_length = 0.1f, map.shift_length = 0.05f, map.rotate_length = 0;
  map.wait_lengths[0] = 0.03125f, map.shift_step = vec(0, -1);
  map.seed_layout = 7, map.seed_cells = 8;
  map.trials.add(new trial{9, 12, 0, false, true, false});
  hooks.resetmap = [] { now += 0.25, map.rotate_angle = 90, map.clicks.clear(); };
  now = 3.5;
  press('g');
  // Frames every 1/64 s from 4 s on, one of them three intervals late; two clicks, a press and
  // its release, between PICK's second and third frame, and a press of the right button after them.
  for (int j : {0, 1, 2, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}) {
    now = 4 + j / 64.0;
    displayfunc();
  }
  now = 4 + 19.25 / 64;
  mousefunc(GLUT_LEFT_BUTTON, GLUT_DOWN, 30, 790), mousefunc(GLUT_LEFT_BUTTON, GLUT_UP, 30, 790);
  now = 4 + 20 / 64.0;
  displayfunc();
  now = 4.40625;
  mousefunc(GLUT_RIGHT_BUTTON, GLUT_DOWN, 32, 790);
  const std::string killed = ondisk(eventsname);  // what a kill in PICK leaves behind
  now = 4.5;
  press('s');
  std::vector<std::string> rows;
  std::istringstream log(ondisk(eventsname));
  for (std::string line; std::getline(log, line);) rows.push_back(compact(line));
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "3.750000 n/a 1 trial_start 0 n/a*5 9 12 1 0 0 0.031250 90.000000 0 -1 "
                      "250.000 7 8 n/a*16",
                      "4.000000 0.125000 1 WATCH 0 5 0.100000 15.625 62.500 1 n/a*28",
                      "4.125000 0.078125 1 SHIFT 5 5 0.050000 15.625 15.625 0 n/a*28",
                      "4.203125 0.015625 1 ROTATE 10 1 0.000000 15.625 15.625 0 n/a*28",
                      "4.218750 0.062500 1 WAIT 11 4 0.031250 15.625 15.625 0 n/a*28",
                      "4.281250 0.218750 1 PICK 15 3 n/a 15.625 15.625 0 n/a*28",
                      "4.300781 n/a 1 click 17 n/a*17 30 790 30.000000 10.000000 30 10 target "
                      "0.019531 n/a*5 0 press n/a",
                      "4.300781 n/a 1 click 17 n/a*17 30 790 30.000000 10.000000 30 10 repeat "
                      "0.019531 n/a*5 0 release n/a",
                      "4.406250 n/a 1 click 18 n/a*17 32 790 32.000000 10.000000 32 10 empty "
                      "0.125000 n/a*5 2 press n/a",
                      "4.500000 n/a 1 trial_end 18 n/a*25 1.000000 0.000000 1.000000 2.000000 "
                      "0.000000 n/a*3"}));
  const std::string all = ondisk(eventsname);
  EXPECT_EQ(killed, all.substr(0, all.find("\n4.000000") + 1));  // trial_start alone
  // The statistics of a phase with no interval to measure, as PICK ended in its first frame.
  framestats alone;
  alone.begin(1);
  phaseframes one = alone.summary();
  EXPECT_TRUE(one.frames == 1 && std::isnan(one.median_ms) && std::isnan(one.max_ms));
}

// Input counts from PICK's first frame on screen: before it (here in WATCH, and between WAIT's
// last frame and PICK's first, when the phase is already PICK) a click or an 's' does nothing
// but leave an early row. In PICK the wheel (buttons 3 and 4) never clicks, and a click off the
// grid is recorded but scores nothing.
TEST_F(Run, InputBeforePickIsShownIsEarlyTheWheelNeverClicksAndOffTheGridScoresNothing) {
  map.watch_length = map.shift_length = map.rotate_length = 0.1f, map.wait_lengths[0] = 0.1f;
  map.trials.add(new trial{9, 12, 0, false, true, false});
  press('g');
  now = 1;
  displayfunc();  // WATCH on screen
  now = 1.01;
  mousefunc(GLUT_LEFT_BUTTON, GLUT_DOWN, 30, 790), press('s');
  for (now = 1.25; prgm_stat != 5; now += 0.25) displayfunc();
  ASSERT_TRUE(std::isinf(pick_start));  // the phase is PICK; its first frame is still to come
  now = 2.2;
  mousefunc(GLUT_LEFT_BUTTON, GLUT_UP, 30, 790), click(60, 780), press('s');
  EXPECT_EQ(prgm_stat, 5);
  EXPECT_EQ(checks + nhits_t + nhits_d + nhits_e + total_hits + map.clicks.size(), 0);
  now = 2.25;
  displayfunc();  // PICK on screen
  now = 2.3;
  for (int button : {3, 4})
    mousefunc(button, GLUT_DOWN, 60, 780), mousefunc(button, GLUT_UP, 60, 780);
  now = 2.5;
  click(30, 790), click(34, 780);  // a target, a spot off the grid
  EXPECT_EQ(checks, 4);
  EXPECT_EQ(map.clicks,
            (std::vector<std::pair<float, float>>{{30, 10}, {30, 10}, {34, 20}, {34, 20}}));
  now = 2.75;
  press('s');
  EXPECT_EQ(prgm_stat, 0);
  EXPECT_EQ(ondisk(tabname),
            "1\t9\t12\t1\t0\t0\t0.100000\t90.000000\t1.000000\t0.000000\t"
            "0.000000\t1.000000\t\n");
  std::vector<std::string> rows;
  std::istringstream log(ondisk(eventsname));
  for (std::string line; std::getline(log, line);)
    if (line.find("\tclick\t") != std::string::npos || line.find("\tearly\t") != std::string::npos)
      rows.push_back(compact(line));
  EXPECT_EQ(rows,
            (std::vector<std::string>{
                "1.010000 n/a 1 early 1 n/a*17 30 790 n/a*11 0 press n/a",
                "1.010000 n/a 1 early 1 n/a*32 s",
                "2.200000 n/a 1 early 8 n/a*17 30 790 n/a*11 0 release n/a",
                "2.200000 n/a 1 early 8 n/a*17 60 780 n/a*11 0 press n/a",
                "2.200000 n/a 1 early 8 n/a*17 60 780 n/a*11 0 release n/a",
                "2.200000 n/a 1 early 8 n/a*32 s",
                "2.300000 n/a 1 click 9 n/a*17 60 780 n/a*4 wheel 0.050000 n/a*5 3 press n/a",
                "2.300000 n/a 1 click 9 n/a*17 60 780 n/a*4 wheel 0.050000 n/a*5 3 release n/a",
                "2.300000 n/a 1 click 9 n/a*17 60 780 n/a*4 wheel 0.050000 n/a*5 4 press n/a",
                "2.300000 n/a 1 click 9 n/a*17 60 780 n/a*4 wheel 0.050000 n/a*5 4 release n/a",
                "2.500000 n/a 1 click 9 n/a*17 30 790 30.000000 10.000000 30 10 target "
                "0.250000 n/a*5 0 press n/a",
                "2.500000 n/a 1 click 9 n/a*17 30 790 30.000000 10.000000 30 10 repeat "
                "0.250000 n/a*5 0 release n/a",
                "2.500000 n/a 1 click 9 n/a*17 34 780 34.000000 20.000000 34 20 off_grid "
                "0.250000 n/a*5 0 press n/a",
                "2.500000 n/a 1 click 9 n/a*17 34 780 34.000000 20.000000 34 20 off_grid "
                "0.250000 n/a*5 0 release n/a"}));
}

// A browser's page leaving full screen or hidden during a trial: rows in the order they came among
// the trial's input, written at 's'; never a click, so the results files are as without them;
// nothing on the idle screen, where there is no trial.
TEST_F(Run, PageChangesInATrialAreRowsInTheOrderTheyCameAndNeverClicks) {
  map.watch_length = map.shift_length = map.rotate_length = 0.1f, map.wait_lengths[0] = 0.1f;
  map.trials.add(new trial{9, 12, 0, false, true, false});
  pagefunc(page_fullscreen_left);  // idle: nothing to record it in
  press('g');
  now = 1;
  displayfunc();
  now = 1.05, display.frame_count = 4;
  pagefunc(page_fullscreen_left);
  mousefunc(GLUT_LEFT_BUTTON, GLUT_DOWN, 30, 790);
  now = 1.5;
  pagefunc(page_fullscreen_back);
  for (now = 1.75; !pickshown(); now += 0.25) displayfunc();
  ASSERT_EQ(pick_start, 3.5);
  now = 4, display.frame_count = 20;
  pagefunc(page_hidden);
  click(30, 790);
  pagefunc(page_shown);
  now = 4.5;
  press('s');
  pagefunc(page_hidden);  // after 's': idle again
  std::vector<std::string> rows;
  std::istringstream log(ondisk(eventsname));
  for (std::string line; std::getline(log, line);) rows.push_back(compact(line));
  ASSERT_EQ(rows.size(), 14u);  // trial_start, five phases, seven rows, trial_end
  const std::vector<std::string> kept(rows.begin() + 5, rows.end());
  EXPECT_EQ(kept,
            (std::vector<std::string>{
                kept[0],  // PICK
                "1.050000 n/a 1 fullscreen_left 4 n/a*33",
                "1.050000 n/a 1 early 4 n/a*17 30 790 n/a*11 0 press n/a",
                "1.500000 n/a 1 fullscreen_back 4 n/a*33", "4.000000 n/a 1 page_hidden 20 n/a*33",
                "4.000000 n/a 1 click 20 n/a*17 30 790 30.000000 10.000000 30 10 target "
                "0.500000 n/a*5 0 press n/a",
                kept[6],  // the release: a repeat
                "4.000000 n/a 1 page_shown 20 n/a*33", kept[8]}));
  EXPECT_NE(kept[0].find(" PICK "), std::string::npos);
  EXPECT_NE(kept[6].find(" repeat "), std::string::npos);
  EXPECT_NE(kept[8].find(" trial_end "), std::string::npos);
  EXPECT_EQ(map.clicks, (std::vector<std::pair<float, float>>{{30, 10}}));
  EXPECT_EQ(ondisk(tabname),
            "1\t9\t12\t1\t0\t0\t0.100000\t90.000000\t1.000000\t0.000000\t"
            "0.000000\t1.000000\t\n");
}

// 's' and then 'g' with no idle frame between them: the trial's points are not lost.
TEST_F(Run, TheIdleScoreKeepsATrialsPointsWhenGFollowsSWithNoFrameBetween) {
  for (int k = 0; k < 2; k++) map.trials.add(new trial{9, 12, 1, false, false, false});
  press('g');
  prgm_stat = 5;
  click(30, 790), click(31, 780), click(32, 770), click(33, 760);  // +1 -1 -1 +1
  click(36, 750);
  press('s'), press('g');
  EXPECT_EQ(points, 201);
  prgm_stat = 0;
  displayfunc();
  EXPECT_EQ(texts.back(), "points: 201.000000");
}

// The bytes a percent-encoded string stands for.
static std::string unpercent(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    out += s[i] == '%' ? static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)) : s[i];
    if (s[i] == '%') i += 2;
  }
  return out;
}

// The sidecar of a run in a folder whose name is not UTF-8, from a settings file that is not
// either: valid JSON whose _bytes give the exact names back, the design as read (pools in the
// order the trials take them, from the last listed angle to the first unless shuffled, then
// as the logged seed shuffles them); and the rename of a saved sidecar is synced in its folder.
// (The end-to-end run checks the rest of it.)
TEST(Sidecar, IsValidJsonForAnyPathAndHoldsTheWholeDesign) {
  char made[] = "/tmp/sm_sideXXXXXX";
  ASSERT_TRUE(mkdtemp(made));
  const std::string folder = std::string(made) + "/lat\xe9";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  snprintf(path, sizeof path, "%s", folder.c_str());
  const std::string design =
      "caf\xe9 at 20 \xb0"
      "C\nwait_lengths:\n0.3\n2\nlength_end:\nrotation_angles:\n90\n-30\n180\n"
      "angle_end:\nnum_trials_per_set: 3\ntarget_distract_sets:\n9 12\nset_end:\n";
  static unsigned seed = 4000000007u;
  unsigned (*saved)() = seedsource;
  seedsource = [] { return seed; };
  sidecarfacts facts;
  auto sidecar = [&](const std::string& text) {
    std::ofstream(folder + "/settings.txt", std::ios::binary) << text;
    map.~maphdl();
    new (&map) maphdl();
    EXPECT_TRUE(map.init());
    map.loadsettings("settings.txt");
    designfacts(&facts);
    char* text_out = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text_out, &size);
    writesidecar(f, facts);
    fclose(f);
    const std::string json(text_out, size);
    free(text_out);
    return nlohmann::json::parse(json).at("spatialmemory");  // throws unless valid JSON
  };
  const nlohmann::json run = sidecar(design);
  // The events of a page's changes are listed only where the platform reports them.
  for (bool page : {false, true}) {
    sidecarfacts platform;
    platform.page_rows = page;
    char* text_out = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text_out, &size);
    writesidecar(f, platform);
    fclose(f);
    const nlohmann::json levels =
        nlohmann::json::parse(std::string(text_out, size))["event"]["Levels"];
    free(text_out);
    for (const char* name : {"fullscreen_left", "fullscreen_back", "page_hidden", "page_shown"})
      EXPECT_EQ(levels.contains(name), page) << name;
    EXPECT_TRUE(levels.contains("early") && levels.contains("click"));
  }
  EXPECT_EQ(unpercent(run["settings_file_bytes"]), folder + "/settings.txt");
  EXPECT_EQ(unpercent(run["settings_text_bytes"]), design);
  EXPECT_EQ(run["settings_text"], "caf\u00e9 at 20 \u00b0C" + design.substr(13));
  EXPECT_EQ(run["wait_lengths"], nlohmann::json::parse("[0.3, 2]"));
  EXPECT_EQ(run["rotation_angles"], nlohmann::json::parse("[90, -30, 180]"));
  EXPECT_TRUE(run["shuffle_angles"] == false && run["shuffle_seed"].is_null());
  // Wait lengths 0.3 and 2 dealt in turn: two conditions, each from the last angle listed.
  EXPECT_EQ(run["angle_pools"], nlohmann::json::parse(R"({"900.300": [180, -30, 90],
                                                          "90200": [180, -30, 90]})"));
  const nlohmann::json shuffled = sidecar(design + "shuffle_angles: 1\n");
  EXPECT_EQ(shuffled["shuffle_seed"], seed);
  EXPECT_EQ(shuffled["run_number"], 1);
  // The pools as the logged seed shuffled them (the settings' tests tell that it does), in
  // the order the trials take them: from the end.
  ASSERT_EQ(map.angle_pools.size(), 2u);
  for (auto& [key, pool] : map.angle_pools)
    EXPECT_EQ(shuffled["angle_pools"][key],
              nlohmann::json(std::vector<float>(pool.rbegin(), pool.rend())));
  // A sidecar saved is renamed into place, then its folder synced.
  static std::string seen;
  foldersync = [](const char* synced) {
    std::ifstream in(std::string(synced) + "/results_events1.json");
    seen = std::string(synced) + (in.good() ? " holds the sidecar" : " has no sidecar");
    return true;
  };
  EXPECT_TRUE(savesidecar(sidecarname(map.events_name).c_str(), facts));
  EXPECT_EQ(seen, folder + " holds the sidecar");
  foldersync = syncfolder, seedsource = saved;
  map.~maphdl();
  new (&map) maphdl();
  std::system(("rm -rf " + std::string(made)).c_str());
}
