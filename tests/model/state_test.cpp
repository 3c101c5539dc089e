#include <cstring>

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
  EXPECT_EQ(m.results_name, dir + "/results0.txt");
  EXPECT_EQ(m.coord_name, dir + "/results_coord0.txt");

  EXPECT_FLOAT_EQ(m.wait_length, 2.0f);
  EXPECT_FLOAT_EQ(m.watch_length, 14.0f);
  EXPECT_FLOAT_EQ(m.shift_length, 2.0f);
  EXPECT_FLOAT_EQ(m.rotate_length, 2.0f);
  EXPECT_FLOAT_EQ(m.map_width, 0.7f);
  EXPECT_FLOAT_EQ(m.map_height, 0.7f);
  EXPECT_FLOAT_EQ(m.depth_sep, 0.03f);
  EXPECT_FLOAT_EQ(m.surround_scale, 3.3f);
  EXPECT_EQ(m.num_x, 5);
  EXPECT_EQ(m.num_y, 5);
  EXPECT_EQ(m.num_targets, 12);
  EXPECT_EQ(m.num_distracts, 13);
  EXPECT_EQ(m.borderwidth, 2);
  EXPECT_EQ(m.borders, 1);
  EXPECT_EQ(m.blank_wait, 0);
  EXPECT_EQ(m.num_targets_min, 1);
  EXPECT_EQ(m.num_targets_max, 2);
  EXPECT_EQ(m.num_distracts_min, 1);
  EXPECT_EQ(m.num_distracts_max, 2);
  EXPECT_EQ(m.num_trials_per_set, 1);
  EXPECT_EQ(m.num_instant_shifts + m.num_with_borders + m.num_blank_wait, 0);
  EXPECT_EQ(m.num_wait_lengths + m.num_rotation_angles + m.trials.size, 0);
  EXPECT_EQ(m.discol, nullptr);
  EXPECT_EQ(m.tarcol, nullptr);
  EXPECT_TRUE(m.angle_pools.empty());
}

TEST_F(mapstate, asettingsfilenamelongerthanthebufferisnotfound) {
  // A cut name could open a different file; it must count as missing instead.
  write("settings.txt", "num_x: 7\n");
  maphdl m;
  ASSERT_TRUE(m.init());
  std::string name = std::string(250, '.');
  for (size_t i = 1; i < name.size(); i += 2) name[i] = '/';
  name += "settings.txt";
  testing::internal::CaptureStdout();
  m.loadsettings(name.c_str());
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_NE(said.find("error, file not found! " + dir + "/" + name + "\nusing defaults\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(m.num_x, 5);
}
