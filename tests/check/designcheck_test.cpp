#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "check/designcheck.h"

// The start of each problem: enough to tell which it is and where. The full wording is checked
// where it carries the point (near misses, shared keys, exhaustion by coin toss).
static std::vector<std::string> heads(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines) out.push_back(l.substr(0, 44));
  return out;
}

struct designcheck : ::testing::Test {
  std::string dir;  // a fresh folder for this test's files

  void SetUp() override {
    char name[] = "/tmp/smcheckXXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

  // Checks `text` as the file d.txt and gives the problem lines without the file name.
  std::vector<std::string> problems(const std::string& text, designreport* out = nullptr) {
    std::string name = dir + "/d.txt";
    std::ofstream(name, std::ios::binary) << text;
    designreport report = checkdesign(name.c_str());
    std::vector<std::string> lines;
    for (const std::string& p : report.problems) {
      EXPECT_EQ(p.rfind(name + ":", 0), 0u) << p;
      lines.push_back(p.substr(name.size() + 1));
    }
    if (out) *out = report;
    return lines;
  }
};

TEST_F(designcheck, nearmissesarereportedontheirownlinesandsoundlinesaresilent) {
  std::vector<std::string> got = problems(
      "num_x: 5\r\n"
      " num_y: 5\r\n"
      "Num_y: 5\r\n"
      "num_trails_per_set: 4\r\n"
      "num_targets: 9\r\n"
      "\r\n"
      "wait_lengths\r\n"
      "rotation_angles:\r\n"
      "0\r\n"
      "ninety\r\n"
      "angle_end:\r\n"
      "num_x: 0\r\n"
      "num_instant_shifts: 99999999999\r\n"
      "tarcolsetstart:\r\n"
      "-1 20 30\r\n"
      "end:\n"
      "watch_length: 3\n"
      "discolsetstart:\n"
      "1 2 3\n");
  EXPECT_EQ(got, (std::vector<std::string>{
                     "2: \" num_y: 5\" matches no setting (a key must begin the line; the blanks "
                     "before num_y hide it); the line is ignored",
                     "3: \"Num_y: 5\" matches no setting (keys are lower case: num_y); the line is "
                     "ignored",
                     "4: \"num_trails_per_set: 4\" matches no setting (did you mean "
                     "num_trials_per_set?); the line is ignored",
                     "5: \"num_targets: 9\" matches num_targets only in part (its form is "
                     "\"num_targets: N to M\"); numbers read before the mismatch are kept",
                     "7: \"wait_lengths\" matches no setting (wait_lengths opens its block only "
                     "with its colon); the line is ignored",
                     "10: \"ninety\" in the rotation_angles block does not read as one number "
                     "(degrees); the line is skipped",
                     "12: num_x 0 is outside 1 to 512; num_x stays 5",
                     "13: \"num_instant_shifts: 99999999999\" matches num_instant_shifts only in "
                     "part (its form is \"num_instant_shifts: N\"); numbers read before the "
                     "mismatch are kept",
                     "15: colour -1 20 30 has a component outside 0 to 255; it is stored as 255 "
                     "20 30",
                     "18: the discolsetstart block has no closing line \"end:\"; it runs to the "
                     "end of the file",
                 }));
}

TEST_F(designcheck, settingsbelowtheblocksthatneededthemarelate) {
  std::vector<std::string> got = problems(
      "num_x: 9\nnum_y: 9\n"
      "rotation_angles:\n0\n90\nangle_end:\n"
      "tarcolsetstart:\n1 1 1\nend:\n"
      "target_distract_sets:\n9 9\nset_end:\n"
      "num_trials_per_set: 1\n"
      "num_with_borders: 0\n"
      "num_x: 9\n"
      "depth_sep: 0.1\n"
      "wait_lengths:\n2\nlength_end:\n");
  EXPECT_EQ(heads(got), (std::vector<std::string>{
                            "11: condition 90200 has 1 trial but 0 rotati",
                            "13: num_trials_per_set comes after the targe",
                            "14: num_with_borders comes after the target_",
                            "15: num_x comes after the tarcolsetstart blo",
                            "17: wait_lengths comes after the target_dist",
                        }));
}

TEST_F(designcheck, designsthatrunoutofanglesorcellsorsharekeys) {
  // The first set's four trials share one condition and three angles.
  std::vector<std::string> got = problems(
      "num_x: 9\nnum_y: 9\nnum_trials_per_set: 4\n"
      "rotation_angles:\n0\n90\n180\nangle_end:\n"
      "target_distract_sets:\n9 12\nset_end:\n"
      "num_with_borders: 2\n"
      "target_distract_sets:\n12 14\n3 9\nset_end:\n");
  EXPECT_EQ(heads(got), (std::vector<std::string>{
                            "10: condition 90000 has 4 trials but 3 rotat",
                            "12: num_with_borders comes after the target_",
                            "14: 12 targets and 14 distractors need 26 ca",
                            "15: 3 targets and 9 distractors: the exit ta",
                        }));

  // 1 target, blank wait, 10 s, instant, borders and 11 targets, blank wait, 0 s, instant,
  // borders both make 111011, and so share its one angle.
  got = problems(
      "num_x: 9\nnum_y: 9\n"
      "num_trials_per_set: 2\nnum_blank_wait: 2\nnum_instant_shifts: 2\nnum_with_borders: 2\n"
      "wait_lengths:\n10\n0\nlength_end:\n"
      "rotation_angles:\n0\nangle_end:\n"
      "target_distract_sets:\n9 9\n1 9\n11 9\nset_end:\n");
  EXPECT_EQ(heads(got), (std::vector<std::string>{
                            "16: 1 target and 9 distractors: the exit tal",
                            "17: condition (11 targets, blank wait, 0 s, ",
                            "17: condition 111011 has 2 trials but 1 rota",
                        }));
  EXPECT_EQ(got[1],
            "17: condition (11 targets, blank wait, 0 s, instant shift, borders) has the key "
            "111011 of condition (1 target, blank wait, 10 s, instant shift, borders) from line "
            "16; the two share one angle pool");
}

// Two trials of each wait length, two of four with borders: either wait length may get both
// bordered trials, or neither, so each of its conditions may need two angles.
TEST_F(designcheck, possibleexhaustionisreportedwiththecoinsnamed) {
  std::vector<std::string> got = problems(
      "num_x: 9\nnum_y: 9\nnum_trials_per_set: 4\nnum_with_borders: 2\n"
      "wait_lengths:\n1\n2\nlength_end:\n"
      "rotation_angles:\n0\nangle_end:\n"
      "target_distract_sets:\n9 12\nset_end:\n");
  ASSERT_EQ(got.size(), 4u);
  const char* keys[] = {"90100", "90101", "90200", "90201"};
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(got[i], std::string("13: condition ") + keys[i] +
                          " has up to 2 trials (the coin tosses decide) but 1 rotation angle: the "
                          "last 1 of its trials to be run get no angle (\"Trying to POP from an "
                          "empty vector : " +
                          keys[i] + "\" in the results)");
}

TEST_F(designcheck, thebundledexamplepassescleanandasummarysayswhatwillrun) {
  std::string example = std::string(__FILE__);
  example = example.substr(0, example.rfind("/tests/")) + "/example/settings.txt";
  designreport report = checkdesign(example.c_str());
  ASSERT_TRUE(report.readable) << example;
  EXPECT_EQ(report.problems, std::vector<std::string>{});
  EXPECT_EQ(exitstatus(report), 0);
  EXPECT_NE(report.summary.find("Trials: 8 from 2 set lines\n"), std::string::npos)
      << report.summary;

  // Defaults are marked; an empty block leaves the default colour; the time adds up the phases.
  problems(
      "num_trials_per_set: 2\nwait_lengths:\n1\n2.5\nlength_end:\ntarcolsetstart:\nend:\n"
      "target_distract_sets:\n9 9\nset_end:\n",
      &report);
  EXPECT_NE(report.summary.find("  watch_length         14 s         default\n"),
            std::string::npos);
  EXPECT_NE(report.summary.find("  num_trials_per_set   2            line 1\n"), std::string::npos);
  EXPECT_NE(report.summary.find("targets:     default, 100 200 10\n"), std::string::npos);
  EXPECT_NE(
      report.summary.find("        9           9 no     2.5 s       1       0       0      0\n"),
      std::string::npos)
      << report.summary;
  // (14 + 2 + 2) * 2 + 1 + 2.5 = 39.5, shown rounded.
  EXPECT_NE(report.summary.find("PICK phases: 0 min 40 s\n"), std::string::npos);
  EXPECT_EQ(exitstatus(report), 1);

  report = checkdesign((dir + "/none.txt").c_str());
  EXPECT_FALSE(report.readable);
  EXPECT_EQ(exitstatus(report), 2);
}
