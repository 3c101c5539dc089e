#include "tests/model/tempfolder.h"

using mapstate = tempfolder;

TEST_F(mapstate, withoutasettingsfilethedefaultsstandandnothingisechoed) {
  maphdl m;
  ASSERT_TRUE(m.init());
  testing::internal::CaptureStdout();
  m.loadsettings("settings.txt");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "error, file not found! " + dir + "/settings.txt\nusing defaults\n");
  fflush(m.results_file);
  EXPECT_EQ(read("results0.txt"), "");
  EXPECT_EQ(m.coord_name, dir + "/results_coord0.txt");
  // The values a run without settings depends on: a 5 x 5 grid, 14 s of WATCH, no trials.
  EXPECT_EQ(m.num_x * 10 + m.num_y, 55);
  EXPECT_FLOAT_EQ(m.watch_length, 14.0f);
  EXPECT_FLOAT_EQ(m.depth_sep, 0.03f);
  EXPECT_EQ(m.num_trials_per_set, 1);
  EXPECT_EQ(m.trials.size + m.num_wait_lengths + m.num_rotation_angles, 0);
  EXPECT_EQ(m.discol, nullptr);
}

TEST_F(mapstate, asettingsfilenamelongerthanthebufferisnotfound) {
  // Cut short, "./././..." would name the folder itself; such a name must count as missing.
  write("settings.txt", "num_x: 7\n");
  maphdl m;
  ASSERT_TRUE(m.init());
  std::string name;
  for (int i = 0; i < 125; i++) name += "./";
  name += "settings.txt";
  testing::internal::CaptureStdout();
  m.loadsettings(name.c_str());
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_NE(said.find("error, file not found! " + dir + "/" + name + "\nusing defaults\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(m.num_x, 5);
}
