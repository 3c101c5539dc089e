// The run without a window: recording hooks, a clock the test sets, results files read by name.
#include <GL/glut.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "model/map.h"
#include "presentation/display.h"
#include "run/records.h"
#include "run/run.h"
#include "presentation/offscreen.h"

namespace {

struct Run : ::testing::Test {
  inline static double now;                         // the display clock, seconds
  inline static std::vector<int> cursors, renders;  // pointer shapes set; phases drawn
  inline static std::vector<std::string> texts;     // texts drawn, in order
  inline static int resets;                         // map layouts made
  char tabname[32] = "/tmp/sm_tab_XXXXXX", coordname[32] = "/tmp/sm_coord_XXXXXX";

  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the GL context runs threads
    ASSERT_TRUE(makeglcontext(160, 100));
    now = resets = 0, cursors.clear(), texts.clear(), renders.clear();
    display_clock = [] { return now; };
    display.start_time = display.frame_count = 0, display.height = 800;
    hooks.swapbuffers = [] {}, hooks.setcursor = [](int shape) { cursors.push_back(shape); };
    hooks.drawtext = [](const char* t, float, float) { texts.push_back(t); };
    hooks.render = [](int phase) { renders.push_back(phase); };
    hooks.resetmap = [] { resets++, map.rotate_angle = 90, map.clicks.clear(); };
    hooks.checkclick = [](double x, double y) {  // 3 for a spot clicked before, as the map does
      int again = std::count(map.clicks.begin(), map.clicks.end(), std::pair<float, float>(x, y));
      map.clicks.emplace_back(x, y);
      return again ? 3 : static_cast<int>(x) % 3;  // else x names the kind of cell
    };
    map.target_cells.clear(), map.distract_cells.clear(), map.clicks.clear();
    map.trials.clear(), map.trial_count = 0, map.num_y = 5, map.wait_lengths[1] = 0.5f;
    map.results_file = fdopen(mkstemp(tabname), "w");
    map.coord_file = fdopen(mkstemp(coordname), "w");
    prgm_stat = 0, points = 200, nhits_t = nhits_d = nhits_e = total_hits = 0;
    std::fill(count, count + 16, 0);
  }
  void TearDown() override {
    fclose(map.results_file), fclose(map.coord_file), unlink(tabname), unlink(coordname);
    map.results_file = map.coord_file = nullptr;
  }

  static void press(unsigned char key) { keydownfunc(key, 0, 0), keyupfunc(key, 0, 0); }
  // A press and its release at window position (x, y), with whichever button.
  static void click(int x, int y) { mousefunc(0, GLUT_DOWN, x, y), mousefunc(0, GLUT_UP, x, y); }
  // What has reached the file itself: a stream of its own sees nothing the run left buffered.
  static std::string ondisk(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Values in 13-character columns and a space; a row ends in a newline and the next row's tail.
  static std::string cols(const std::vector<std::string>& values, bool row = false) {
    std::string out;
    for (const std::string& v : values) out += v + std::string(14 - v.size(), ' ');
    return row ? out.substr(0, out.size() - 1) + "\n" + std::string(168, ' ') : out;
  }
};

}  // namespace

TEST_F(Run, HeaderLinesAndRowsWhereTheClicksAreNotTheLongestList) {
  writetabheader(map.results_file), writecoordheader(map.coord_file);
  map.distract_cells.add(24);  // cell 24 of a 5-row grid: column 4, row 4
  writecoordrows(map.coord_file, {}, nullptr, map.distract_cells.head, 5);
  writecoordrows(map.coord_file, {}, nullptr, nullptr, 5);  // no rows at all
  flushrecords();
  EXPECT_EQ(ondisk(tabname),
            "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\t"
            "targets hit\tdistracts hit\tempty hit\ttotal hit\n");
  std::string header =
      cols({"trial", "targets", "distrac", "borders", "blank", "instant", "waitlength",
            "rotate angle", "targets hit", "distracts hit", "empty hit", "total hit", "clicks X",
            "clicks Y", "targets X", "targets Y", "distractors X", "distractors Y"});
  header.back() = '\n';
  EXPECT_EQ(ondisk(coordname), header + cols({" ", " ", " ", " ", "4", "4"}, true));
}

TEST(Records, ClicksSortByColumnThenRowOnceEachWithNotANumberLast) {
  std::vector<std::pair<float, float>> c;  // columns falling, row 1 twice in each
  for (int i = 0; i < 60; i++) c.push_back({i % 4 ? 20.0f - i / 4 : std::nanf(""), i % 2});
  sortclicks(&c);  // enough clicks to leave insertion sort, where a bad order reads past the end
  ASSERT_EQ(c.size(), 45u);  // a NaN never equals anything, so none is merged away
  for (size_t i = 1; i < 30; i++) EXPECT_LT(c[i - 1], c[i]);
  EXPECT_TRUE(std::all_of(c.begin() + 30, c.end(), [](auto p) { return std::isnan(p.first); }));
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
  expect({"/Volumes/Lab/Task.app/Contents/MacOS/Task", "/Volumes/Lab", "/opt/exp-1.5/bin/run",
          "/opt", "/Task.app/Contents/MacOS/Task", "", "./build/spatialmemory", ".",
          "Task.app/Contents/MacOS/Task", ".", "", ".", folder + "/x.app/run", folder,
          folder + "b/x.app/run", "."});
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
  // WAIT, of length 0, gets one frame; the slide ends one cell (2 / 4) on as SHIFT ends.
  EXPECT_EQ(changes, (decltype(changes){{1.25, "WATCH", 0, 0},
                                        {3.5, "SHIFT", 1, 0.5f},
                                        {6.75, "ROTATE", 2, 0.5f},
                                        {7, "WAIT", 3, 0.5f}}));
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
  EXPECT_FLOAT_EQ(watch_start, 7.25f);
  std::string tab = "1\t12\t15\t1\t0\t1\t0.500000\t90.000000\t";
  std::string coord = cols({"1", "12", "15", "1", "0", "1", "0.500000", "90.000000"});
  EXPECT_EQ(ondisk(tabname) + ondisk(coordname), tab + coord);
  for (int cell : {7, 12, 10}) map.target_cells.add(cell);  // cells on a grid of 5 rows
  map.distract_cells.add(6);
  prgm_stat = 5;
  for (int x : {31, 30}) click(x, 800 - x);  // y counted from the top; x % 3 the kind of cell
  press('s');
  EXPECT_EQ(prgm_stat, 0);
  EXPECT_EQ(cursors, std::vector<int>{GLUT_CURSOR_NONE});
  EXPECT_EQ(ondisk(tabname), tab + "1.000000\t1.000000\t0.000000\t2.000000\t\n");
  // Four events on two spots; each click is written once, in order, as long as any list lasts.
  EXPECT_EQ(ondisk(coordname), coord + cols({"1.000000", "1.000000", "0.000000", "2.000000"}) +
                                   cols({"30.000000", "30.000000", "1", "2", "1", "1"}, true) +
                                   cols({"31.000000", "31.000000", "2", "2", " ", " "}, true) +
                                   cols({" ", " ", "2", "0", " ", " "}, true) + "\n");
}

TEST_F(Run, AnUnwritableFileIsNamedAndTheRunGoesOnToEndAtGWithTheTally) {
  // Messages and the tally go to standard output; the death test reads standard error.
  EXPECT_EXIT((dup2(2, 1), press('g')), ::testing::ExitedWithCode(1), "no trials to run");
  fclose(map.results_file);
  map.results_file = fopen("/dev/full", "w");
  snprintf(map.results_name, sizeof map.results_name, "/data/results4.txt");
  const int sets[][2] = {{9, 12}, {10, 14}, {18, 18}, {8, 12}, {21, 9}};
  for (auto s : sets) map.trials.add(new trial{s[0], s[1], 1, false, false, false});
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 5; i++) press('g'), prgm_stat = 0;  // started trials count, finished or not
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("/data/results4.txt"), std::string::npos);
  EXPECT_EQ(ondisk(coordname).substr(0, 14), cols({"1"}));  // the other file is still written
  EXPECT_EXIT((dup2(2, 1), atexit(release), press('g')), ::testing::ExitedWithCode(0),
              "9 9: 0\n9 12: 2\n(.*: 0\n)*18 18: 1\n\n$");
}
