// The key and mouse commands driven through the callbacks: phases, scoring, records, tally, end.
#include <GL/glut.h>
#include <unistd.h>

#include <string>

#include "presentation/keyboard.h"
#include "tests/run/runfixture.h"

namespace {

std::string col(const std::string& v) {
  return v + std::string(v.size() < 13 ? 13 - v.size() : 0, ' ');
}

void press(unsigned char key) {
  keydownfunc(key, 0, 0);
  keyupfunc(key, 0, 0);
}

// Both mouse events of a click at window position (x, y).
void click(int x, int y) {
  mousefunc(GLUT_LEFT_BUTTON, GLUT_DOWN, x, y);
  mousefunc(GLUT_LEFT_BUTTON, GLUT_UP, x, y);
}

}  // namespace

using Commands = runfixture;

TEST_F(Commands, GStartsOnlyFromIdleAndSFinishesOnlyPick) {
  addtrial(9, 12, 0, false, false, false);
  addtrial(9, 12, 0, false, false, false);
  for (int stat = 1; stat <= 5; stat++) {
    prgm_stat = stat;
    press('g');
    EXPECT_EQ(prgm_stat, stat);
  }
  for (int stat = 0; stat <= 4; stat++) {
    prgm_stat = stat;
    press('s');
    EXPECT_EQ(prgm_stat, stat);
  }
  prgm_stat = 0;
  keydownfunc('G', 0, 0);  // upper case is no command, but the key table keeps it
  EXPECT_EQ(keys.keystate['G'], 1);
  keyupfunc('G', 0, 0);
  EXPECT_EQ(keys.keystate['G'], 0);
  prgm_stat = 5;
  press('S');
  EXPECT_EQ(prgm_stat, 5);
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(map.trials.size, 2);
  EXPECT_TRUE(cursors.empty());
  EXPECT_EQ(contents(tabname), "");
  EXPECT_EQ(contents(coordname), "");
}

TEST_F(Commands, GStartsTheDrawnTrialAndWritesItsStartToBothFilesAtOnce) {
  addtrial(12, 15, 1, true, false, true);
  nhits_t = 4, nhits_d = 1, nhits_e = 1, total_hits = 6;  // a trial never scored on the idle screen
  now = 7.25;
  keydownfunc('g', 0, 0);
  EXPECT_EQ(prgm_stat, 1);
  EXPECT_FLOAT_EQ(watch_start, 7.25f);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(map.trials.size, 0);
  EXPECT_EQ(map.trial_count, 1);
  EXPECT_FLOAT_EQ(map.wait_length, 0.5f);
  EXPECT_EQ(nhits_t + nhits_d + nhits_e + total_hits, 0);
  EXPECT_EQ(contents(tabname), "1\t12\t15\t0\t1\t1\t0.500000\t90.000000\t");
  EXPECT_EQ(contents(coordname), col("1") + " " + col("12") + " " + col("15") + " " + col("0") +
                                     " " + col("1") + " " + col("1") + " " + col("0.500000") + " " +
                                     col("90.000000") + " ");
}

TEST_F(Commands, WholeTrialGivesTheTabLineAndCoordRecord) {
  addtrial(9, 12, 0, false, true, false);
  press('g');
  prgm_stat = 5;
  answers = {0, 3, 0, 3, 0, 3, 1, 3};
  click(10, 790);  // y from the top of an 800-pixel window: 10 from the bottom
  click(20, 780);
  click(30, 770);
  click(40, 760);
  EXPECT_EQ(nhits_t, 3);
  EXPECT_EQ(nhits_d, 1);
  EXPECT_EQ(total_hits, 4);
  EXPECT_EQ(hits.front(), (std::pair<double, double>(10, 10)));
  press('s');
  EXPECT_EQ(prgm_stat, 0);
  EXPECT_EQ(cursors, std::vector<int>{GLUT_CURSOR_NONE});
  EXPECT_EQ(contents(tabname),
            "1\t9\t12\t1\t0\t0\t2.000000\t90.000000\t3.000000\t1.000000\t0.000000\t4.000000\t\n");
  // Each press and its release landed on the same spot, so every click is written once.
  std::string coord = contents(coordname);
  std::string rows = col("10.000000") + " " + col("10.000000") + " " + col("1") + " " + col("2") +
                     " " + col("2") + " " + col("2") + "\n";
  EXPECT_NE(coord.find(col("4.000000") + " " + rows + std::string(168, ' ') + col("20.000000") +
                       " " + col("20.000000") + " " + col(" ")),
            std::string::npos);
  EXPECT_EQ(coord.substr(coord.size() - 170), "\n" + std::string(168, ' ') + "\n");
  EXPECT_EQ(map.clicks.size(), 4u);
}

TEST_F(Commands, ClicksOutsidePickAreNeitherScoredNorRecorded) {
  addtrial(9, 9, 0, false, false, false);
  press('g');
  answers = {0, 0, 0, 0, 0};
  for (int stat = 0; stat <= 4; stat++) {
    prgm_stat = stat;
    click(50, 50);
  }
  EXPECT_TRUE(hits.empty());
  EXPECT_TRUE(map.clicks.empty());
  EXPECT_EQ(total_hits, 0);
  prgm_stat = 5;
  answers = {2};
  mousefunc(GLUT_RIGHT_BUTTON, GLUT_UP, 5, 5);  // any button, any state
  EXPECT_EQ(nhits_e, 1);
  EXPECT_EQ(total_hits, 1);
}

TEST_F(Commands, TallyCountsStartedTrialsInsideItsTableOnly) {
  addtrial(9, 12, 0, false, false, false);
  addtrial(10, 14, 0, false, false, false);
  addtrial(18, 18, 0, false, false, false);
  addtrial(8, 12, 0, false, false, false);
  addtrial(21, 9, 0, false, false, false);
  for (int i = 0; i < 5; i++) {
    press('g');
    prgm_stat = 0;  // the next 'g' without finishing: started trials count all the same
  }
  int total = 0;
  for (int c : count) total += c;
  EXPECT_EQ(total, 3);
  EXPECT_EQ(count[1], 2);
  EXPECT_EQ(count[15], 1);
  EXPECT_EQ(map.trial_count, 5);
}

TEST_F(Commands, GAfterTheLastTrialEndsTheRunWithTheTally) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  addtrial(9, 12, 0, false, false, false);
  addtrial(18, 18, 0, false, false, false);
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the tally goes to standard output; the matcher reads standard error
        atexit(release);
        for (int i = 0; i < 2; i++) {
          press('g');
          prgm_stat = 5;
          press('s');
        }
        press('g');
        _exit(3);  // not reached when the run ends
      },
      ::testing::ExitedWithCode(0), "9 12: 1\n(.*\n)*18 18: 1\n\n$");
}

TEST_F(Commands, GWithNoTrialAtAllSaysSoAndFails) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        press('g');
        _exit(0);
      },
      ::testing::ExitedWithCode(EXIT_FAILURE), "no trials to run");
}

TEST_F(Commands, AFileThatCannotBeWrittenIsNamedAndTheOtherStillSaved) {
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::swap(full, map.results_file);
  snprintf(map.results_name, sizeof map.results_name, "%s", "/data/results4.txt");
  addtrial(9, 9, 0, false, false, false);
  ::testing::internal::CaptureStderr();
  press('g');
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("/data/results4.txt"), std::string::npos) << err;
  EXPECT_EQ(prgm_stat, 1);  // the trial runs on; the coordinate file still takes its record
  EXPECT_EQ(contents(coordname).substr(0, 14), col("1") + " ");
  std::swap(full, map.results_file);
  fclose(full);
}
