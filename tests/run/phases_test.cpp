// The data folder, the phase machine's timing rules and the idle screen's scoring.
#include <GL/glut.h>

#include <cstring>
#include <string>

#include "tests/run/runfixture.h"

double runfixture::now;
std::vector<int> runfixture::cursors;
std::vector<std::string> runfixture::texts;
std::vector<int> runfixture::renders;
int runfixture::swaps;
std::vector<std::pair<double, double>> runfixture::hits;
std::vector<int> runfixture::answers;
int runfixture::resets;

namespace {

std::string derived(const char* argv0, int size = 256) {
  char out[256];
  memset(out, 'x', sizeof out);
  derivepath(argv0, out, size);
  return out;
}

}  // namespace

TEST(DerivePath, FolderBeforeTheLastDot) {
  EXPECT_EQ(derived("/Volumes/Lab/Task.app/Contents/MacOS/Task"), "/Volumes/Lab");
  EXPECT_EQ(derived("/opt/exp-1.5/bin/run"), "/opt");
  EXPECT_EQ(derived("/Task.app/Contents/MacOS/Task"), "");
  EXPECT_EQ(derived("/home/lab/run.d/spatialmemory"), "/home/lab");
}

TEST(DerivePath, NoFolderFoundMeansTheCurrentFolder) {
  EXPECT_EQ(derived("/usr/bin/run"), ".");
  EXPECT_EQ(derived("./run"), ".");
  EXPECT_EQ(derived("./build/spatialmemory"), ".");
  EXPECT_EQ(derived("Task.app/Contents/MacOS/Task"), ".");
  EXPECT_EQ(derived(""), ".");
}

TEST(DerivePath, FolderTooLongForTheBufferMeansTheCurrentFolder) {
  std::string folder = "/" + std::string(254, 'a');  // 255 characters: just fits
  EXPECT_EQ(derived((folder + "/x.app/run").c_str()), folder);
  std::string longer = folder + "b";  // 256 characters: does not
  EXPECT_EQ(derived((longer + "/x.app/run").c_str()), ".");
  EXPECT_EQ(derived("/abcdefgh/x.app/run", 8), ".");
  EXPECT_EQ(derived("/abcdef/x.app/run", 8), "/abcdef");
}

TEST(NextPhase, StrictlyGreaterThanTheLengthOneStepAtATime) {
  EXPECT_EQ(nextphase(1, 16.0, 2.0f, 14.0f), 1);
  EXPECT_EQ(nextphase(1, 16.000001, 2.0f, 14.0f), 2);
  EXPECT_EQ(nextphase(4, 3.0, 3.0f, 0.0f), 4);  // a phase of length 0 still gets its frame
  EXPECT_EQ(nextphase(3, 1e6, 0.0f, 2.0f), 4);  // one step, however late
  // 0.1f is a little above 0.1: the float start time is widened, not the clock narrowed.
  EXPECT_EQ(nextphase(2, 0.1, 0.1f, 0.0f), 2);
  EXPECT_EQ(nextphase(0, 1e9, 0.0f, 0.0f), 0);  // idle and PICK end by key only
  EXPECT_EQ(nextphase(5, 1e9, 0.0f, 0.0f), 5);
}

using PhaseLoop = runfixture;

TEST_F(PhaseLoop, LabelOfAPhaseIsDrawnInTheFrameItRunsOut) {
  prgm_stat = 1;
  watch_start = 10;
  now = 24.0;
  displayfunc();
  EXPECT_EQ(prgm_stat, 1);
  now = 24.5;
  hooks.swapbuffers = [] { swaps++; };  // keep this frame's texts
  displayfunc();
  EXPECT_EQ(texts, std::vector<std::string>{"WATCH"});
  EXPECT_EQ(renders, (std::vector<int>{0, 0}));
  EXPECT_EQ(prgm_stat, 2);
  EXPECT_FLOAT_EQ(shift_start, 24.5f);
  EXPECT_EQ(swaps, 2);
}

TEST_F(PhaseLoop, EachPhaseLastsItsOwnLengthAndThePointerComesWithPick) {
  map.watch_length = 1, map.shift_length = 2, map.rotate_length = 3, map.wait_length = 4;
  prgm_stat = 1;
  double frames = display.frame_count;
  std::vector<double> changes;  // clock readings of the frames that moved the phase on
  for (now = 0; now < 20; now += 0.25) {
    int before = prgm_stat;
    displayfunc();
    if (prgm_stat != before) changes.push_back(now);
    if (prgm_stat < 5) {
      EXPECT_TRUE(cursors.empty());
    }
  }
  EXPECT_EQ(changes, (std::vector<double>{1.25, 3.5, 6.75, 11}));
  EXPECT_EQ(cursors, std::vector<int>{GLUT_CURSOR_LEFT_ARROW});
  EXPECT_EQ(renders.front(), 0);
  EXPECT_EQ(renders.back(), 4);
  EXPECT_EQ(display.frame_count, frames + 80);
}

TEST_F(PhaseLoop, NextStartTimeIsASecondClockReading) {
  // A clock that moves on at every reading shows which reading became the start time.
  display_clock = [] { return now += 0.25; };
  prgm_stat = 2;
  map.shift_length = 1;
  now = 5;
  displayfunc();
  ASSERT_EQ(prgm_stat, 3);
  EXPECT_FLOAT_EQ(rotate_start, 5.5f);
}

TEST_F(PhaseLoop, IdleFrameTakesInTheScoreOnce) {
  nhits_t = 5, nhits_d = 2, nhits_e = 1, total_hits = 8;
  hooks.swapbuffers = [] { swaps++; };
  displayfunc();
  EXPECT_EQ(texts, (std::vector<std::string>{"Press 'g' to start.", "points: 202.000000"}));
  EXPECT_EQ(total_hits, 8);  // stays until the next trial starts
  texts.clear();
  displayfunc();
  EXPECT_EQ(texts[1], "points: 202.000000");
  EXPECT_TRUE(renders.empty());
  prgm_stat = 5;  // PICK: both lines, and no time limit
  now = 1e7;
  texts.clear();
  displayfunc();
  EXPECT_EQ(texts, (std::vector<std::string>{"PICK", "press 's' to finish"}));
  EXPECT_EQ(prgm_stat, 5);
}
