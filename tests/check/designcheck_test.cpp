// spatialmemory-check's judgement of settings files: problem lines, summary and exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "check/designcheck.h"

// Checks `text` as a file: its problem lines must be its name, then `starts`, and no others.
static designreport expectstarts(const std::string& text, const std::vector<std::string>& starts) {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::ofstream(name, std::ios::binary) << text;
  designreport r = checkdesign(name.c_str());
  std::remove(name.c_str());
  EXPECT_EQ(r.problems.size(), starts.size()) << ::testing::PrintToString(r.problems);
  for (size_t i = 0; i < r.problems.size() && i < starts.size(); i++)
    EXPECT_EQ(r.problems[i].rfind(name + ":" + starts[i], 0), 0u) << r.problems[i];
  return r;
}

TEST(DesignCheck, NearMissesAndLateSettingsOnTheirLinesSilenceOnSoundOnesAndTheStatus) {
  designreport r = expectstarts(
      "num_x: 5\r\n num_y: 5\r\nNum_y: 5\r\nnum_trails_per_set: 4\r\nnum_targets: 9\r\n\r\n"
      "wait_lengths\r\nrotation_angles:\r\n0\r\nninety\r\nangle_end:\r\nnum_x: 0\r\n"
      "num_instant_shifts: 99999999999\r\ntarcolsetstart:\r\n-1 20 30\r\nend:\nwatch_length: 3\n"
      "discolsetstart:\n1 2 3\n",
      {" the file has no target_distract_sets block and so builds no trial: the program stops",
       "2: \" num_y: 5\" matches no setting (a key must begin the line; the blanks before num_y",
       "3: \"Num_y: 5\" matches no setting (keys are lower case: num_y); the line is ignored",
       "4: \"num_trails_per_set: 4\" matches no setting (did you mean num_trials_per_set?)",
       "5: \"num_targets: 9\" matches num_targets only in part (its form is \"num_targets: N",
       "7: \"wait_lengths\" matches no setting (wait_lengths opens its block only with its",
       "10: \"ninety\" in the rotation_angles block does not read as one number (degrees)",
       "12: num_x 0 is outside 1 to 512; num_x stays 5",
       "13: \"num_instant_shifts: 99999999999\" matches num_instant_shifts only in part",
       "15: colour -1 20 30 has a component outside 0 to 255; it is stored as 255 20 30",
       "18: the discolsetstart block has no closing line \"end:\"; it runs to the end"});
  EXPECT_EQ(exitstatus(r), 1);
  expectstarts(
      "num_x: 9\nnum_y: 9\nrotation_angles:\n0\n90\nangle_end:\ntarcolsetstart:\n1 1 1\nend:\n"
      "target_distract_sets:\n9 9\nset_end:\nnum_trials_per_set: 1\nnum_with_borders: 0\n"
      "num_x: 9\ndepth_sep: 0.1\nwait_lengths:\n2\nlength_end:\n",
      {"11: condition 90200 has 1 trial but 0 rotation angles",
       "13: num_trials_per_set comes after the target_distract_sets block of line 10",
       "14: num_with_borders comes after the target_distract_sets block of line 10",
       "15: num_x comes after the tarcolsetstart block of line 7",
       "17: wait_lengths comes after the target_distract_sets block of line 10"});
  std::string src = __FILE__;  // the bundled example passes clean
  r = checkdesign((src.erase(src.rfind("/tests/")) + "/example/settings.txt").c_str());
  EXPECT_EQ(exitstatus(r), 0) << ::testing::PrintToString(r.problems);
  for (const char* part : {"Trials: 8 from 2 set lines\n", "PICK phases: 1 min 36 s\n",
                           "       12           9 yes      2 s       2       2       0  270 90\n"})
    EXPECT_NE(r.summary.find(part), std::string::npos) << r.summary;
  EXPECT_EQ(exitstatus(checkdesign("/nonexistent/settings.txt")), 2);
}

TEST(DesignCheck, DesignsThatRunOutOfAnglesOrCellsOrShareKeys) {
  // The first set's four trials share one condition and three angles.
  expectstarts(
      "num_x: 9\nnum_y: 9\nnum_trials_per_set: 4\nrotation_angles:\n0\n90\n180\nangle_end:\n"
      "target_distract_sets:\n9 12\nset_end:\nnum_with_borders: 2\ntarget_distract_sets:\n12 14\n"
      "3 9\nset_end:\n",
      {"10: condition 90000 has 4 trials but 3 rotation angles: the last 1 of",
       "12: num_with_borders comes after", "14: 12 targets and 14 distractors need 26",
       "15: 3 targets and 9 distractors: the exit tally counts only 9 to 20"});
  // The keys' parts have no separators: 1, 1, 10, 1, 1 and 11, 1, 0, 1, 1 both make 111011.
  expectstarts(
      "num_x: 9\nnum_y: 9\nnum_trials_per_set: 2\nnum_blank_wait: 2\nnum_instant_shifts: 2\n"
      "num_with_borders: 2\nwait_lengths:\n10\n0\nlength_end:\nrotation_angles:\n0\nangle_end:\n"
      "target_distract_sets:\n9 9\n1 9\n11 9\nset_end:\n",
      {"16: 1 target and 9 distractors: the exit tally",
       "17: condition (11 targets, blank wait, 0 s, instant shift, borders) has the key 111011 "
       "of condition (1 target, blank wait, 10 s, instant shift, borders) from line 16",
       "17: condition 111011 has 2 trials but 1 rotation angle"});
  // Either wait length may get both bordered trials of four, so each condition may need two.
  expectstarts(
      "num_x: 9\nnum_y: 9\nnum_trials_per_set: 4\nnum_with_borders: 2\nwait_lengths:\n1\n2\n"
      "length_end:\nrotation_angles:\n0\nangle_end:\ntarget_distract_sets:\n9 12\nset_end:\n",
      {"13: condition 90100 has up to 2 trials (the coin tosses decide) but 1 rotation angle: the "
       "last 1 of its trials to be run get no angle",
       "13: condition 90101 has up", "13: condition 90200 has up", "13: condition 90201 has up"});
}

TEST(DesignCheck, DesignsWhoseTrialsAllTurnByOneAngleAreToldOnEverySetLine) {
  // A condition hands out its angles from the end of its list, one a trial: with one trial a
  // condition every trial gets 90; a coin toss may give one condition two, and so 0.
  const std::string head = "num_x: 9\nnum_y: 9\nnum_with_borders: 1\n";
  const std::string sets = "angle_end:\ntarget_distract_sets:\n9 9\n12 9\nset_end:\n";
  const std::string certain =
      "every trial of the design turns by 90 degrees: each condition takes its angles from the "
      "end of rotation_angles, one a trial; none has trials enough to reach 0";
  expectstarts(head + "num_trials_per_set: 2\nrotation_angles:\n0\n90\n" + sets,
               {"10: " + certain, "11: " + certain});
  expectstarts(
      head + "num_trials_per_set: 3\nnum_instant_shifts: 1\nrotation_angles:\n0\n90\n" + sets,
      {"11: the coin tosses may make every trial of the design turn by 90 degrees",
       "12: the coin tosses may"});
  // One angle in the list is a choice, not an oversight; of four trials with one border and one
  // instant shift, two share a condition for certain.
  expectstarts(head + "num_trials_per_set: 2\nrotation_angles:\n90\n" + sets, {});
  expectstarts(
      head + "num_trials_per_set: 4\nnum_instant_shifts: 1\nrotation_angles:\n0\n0\n90\n" + sets,
      {});
  // Shuffled at run time, the pools have no last angle to be sure of; the setting is known.
  const designreport r = expectstarts(
      head + "num_trials_per_set: 2\nrotation_angles:\n0\n90\n" + sets + "shuffle_angles: 1\n", {});
  EXPECT_NE(r.summary.find("shuffle_angles       1"), std::string::npos) << r.summary;
  EXPECT_NE(r.summary.find("Angle pools: shuffled at run time"), std::string::npos) << r.summary;
}

TEST(DesignCheck, ValuesTheReaderTakesWithoutAWordAreToldOnTheirLines) {
  const designreport r = expectstarts(
      "num_x: 20.5\nwatch_length: six\nshift_length: -6\nnum_trials_per_set: 0\n"
      "wait_lengths:\n2\n-1\n1,5\nlength_end:\nrotation_angles:\n90 deg\nangle_end:\n"
      "target_distract_sets:\n9 9\nset_end:\nnum_targets: 9 to 12 each\nwatch_length: 2\n"
      "watch_length: 1x2\n",
      {"1: \"num_x: 20.5\": the setting reads num_x as 20 and ignores \".5\"",
       "2: \"watch_length: six\" matches watch_length only in part (its form is \"watch_length: "
       "X\"); nothing is read from it, so watch_length keeps its default",
       "3: shift_length -6 is negative: SHIFT then lasts a single frame",
       "4: num_trials_per_set 0 builds no trial from a set line",
       "7: wait length -1 is negative: WAIT then lasts a single frame",
       "8: \"1,5\": the wait_lengths block reads 1 and ignores \",5\"",
       "11: \"90 deg\": the rotation_angles block reads 90 and ignores \" deg\"",
       "13: the design builds no trial: the program stops at the first 'g'",
       "16: \"num_targets: 9 to 12 each\": the setting reads num_targets as 9 to 12 and ignores",
       "18: \"watch_length: 1x2\": the setting reads watch_length as 1 and ignores \"x2\""});
  EXPECT_EQ(exitstatus(r), 1);
  // The summary credits each setting to the line it came from, and none to a line it did not.
  for (const char* line : {"  num_x                20           line 1\n",
                           "  watch_length         1 s          line 18\n",
                           "  num_trials_per_set   0            line 4\n"})
    EXPECT_NE(r.summary.find(line), std::string::npos) << line << r.summary;
  EXPECT_NE(expectstarts("watch_length: six\nnum_x: 9\nnum_y: 9\ntarget_distract_sets:\n9 9\n"
                         "set_end:\n",
                         {"1: \"watch_length: six\" matches watch_length only in part",
                          "5: condition 90000 has 1 trial but 0 rotation angles"})
                .summary.find("  watch_length         14 s         default\n"),
            std::string::npos);
}

TEST(DesignCheck, TheSummaryGivesEachConditionsAnglesInTheOrderItsTrialsTakeThem) {
  // The first pools are made with two angles; a third comes too late for them but not for the
  // pool of the bordered trial the second block makes.
  const designreport r = expectstarts(
      "num_x: 9\nnum_y: 9\nrotation_angles:\n0\n90\nangle_end:\ntarget_distract_sets:\n9 9\n"
      "12 9\nset_end:\nrotation_angles:\n180\nangle_end:\nnum_with_borders: 1\n"
      "target_distract_sets:\n9 9\nset_end:\n",
      {"11: rotation_angles comes after", "14: num_with_borders comes after"});
  for (const char* row :
       {"        9           9 no       0 s       2       1       0  90 0 / 180 90 0\n",
        "       12           9 no       0 s       1       0       0  90 0\n"})
    EXPECT_NE(r.summary.find(row), std::string::npos) << row << r.summary;
  EXPECT_NE(expectstarts("num_x: 9\nnum_y: 9\ntarget_distract_sets:\n9 9\nset_end:\n",
                         {"4: condition 90000 has 1 trial but 0 rotation angles"})
                .summary.find("       0       0  none\n"),
            std::string::npos);
  // Shuffled at run time, a pool has no order yet: its angles as listed.
  EXPECT_NE(expectstarts("num_x: 9\nnum_y: 9\nshuffle_angles: 1\nrotation_angles:\n0\n90\n"
                         "angle_end:\ntarget_distract_sets:\n9 9\nset_end:\n",
                         {})
                .summary.find("       0       0  shuffled: 0 90\n"),
            std::string::npos);
}
