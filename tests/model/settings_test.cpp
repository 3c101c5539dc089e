#include <string>
#include <vector>

#include "tests/model/tempfolder.h"

struct settings : tempfolder {
  maphdl m;
  std::string said;  // what loadsettings printed on standard output

  void load(const std::string& text) {
    write("settings.txt", text);
    ASSERT_TRUE(m.init());
    testing::internal::CaptureStdout();
    m.loadsettings("settings.txt");
    said = testing::internal::GetCapturedStdout();
    fflush(m.results_file);
  }
  std::string echo() const { return read("results0.txt"); }
};

TEST_F(settings, nearmissesareskippedandeverymatchisechoedbyteforbyte) {
  load(
      "num_x: 7\n"
      "num_x:8\n"
      " num_y: 3\n"
      "Num_y: 3\n"
      "num_y : 4\n"
      "num_y: 6 cells\n"
      "num_targets: 3 to 9\n"
      "num_targets: 4\n"
      "num_distracts: 5 to\n"
      "depth_sep: 0.05\n"
      "watch_length: 10\n"
      "shift_length: abc\n"
      "rotate_length:3.5\n"
      "wait_lengths\n"
      "7\n"
      "borderwidth: 3\r\n"
      "num_with_borders:\t2\r"
      "num_blank_wait: -1\n"
      "num_instant_shifts: 99999999999999999999\n"
      "num_trials_per_set: 2\n"
      "discolsetstart: whatever\n"
      "300 20 10\n"
      "1 2\n"
      "-1 256 7 extra\n"
      "end:\n");
  EXPECT_EQ(echo(),
            "num_x\t7\n"
            "num_x\t8\n"
            "num_y\t6\n"
            "num_targets\t3\t9\n"
            "depth_sep\t0.050000\n"
            "watch_length\t10.000000\n"
            "rotate_length\t3.500000\n"
            "borderwidth\t3\n"
            "num_with_borders\t2\n"
            "num_blank_wait\t-1\n"
            "num_trials_per_set\t2\n"
            "discolsetstart\n"
            "44\t20\t10\n"
            "255\t0\t7\n");
  EXPECT_EQ(said, "");
  // A key matched in part keeps the numbers read before the mismatch.
  EXPECT_EQ(m.num_targets_min, 4);
  EXPECT_EQ(m.num_targets_max, 9);
  EXPECT_EQ(m.num_distracts_min, 5);
  EXPECT_EQ(m.num_distracts_max, 2);
  EXPECT_FLOAT_EQ(m.shift_length, 2.0f);
  EXPECT_EQ(m.num_instant_shifts, 0);
  EXPECT_EQ(m.num_wait_lengths, 0);
  ASSERT_EQ(m.num_discol, 2);
  EXPECT_EQ(std::vector<int>(m.discol, m.discol + 6), (std::vector<int>{44, 20, 10, 255, 0, 7}));
  EXPECT_EQ(m.tarcol, nullptr);
}

TEST_F(settings, blocksusethevaluesreadsofar) {
  load(
      "rotation_angles\n"
      "90\n"
      "not a number\n"
      "180.5\n"
      "angle_end: and more\n"
      "target_distract_sets:\n"
      "9 12\n"
      "set_end\n"
      "num_trials_per_set: 3\n"
      "wait_lengths:\n"
      "2\n"
      "2.0\n"
      "length_end\n"
      "6\n"
      "length_end:\n"
      "target_distract_sets:\n"
      "12 9\n"
      "15\n"
      "set_end:\n"
      "rotation_angles:\n"
      "270\n"
      "angle_end:\n"
      "num_x: 1\n"
      "num_y: 2\n"
      "tarcolsetstart:\n"
      "1 1 1\n"
      "2 2 2\n"
      "3 3 3\n"
      "end:\n"
      "num_x: 4\n"
      "wait_lengths:\n"
      "9\n");
  EXPECT_EQ(std::vector<float>(m.rotation_angles, m.rotation_angles + m.num_rotation_angles),
            (std::vector<float>{90, 180.5f, 270}));
  // The unclosed block runs to the end of the file and appends to the first.
  EXPECT_EQ(std::vector<float>(m.wait_lengths, m.wait_lengths + m.num_wait_lengths),
            (std::vector<float>{2, 2, 6, 9}));
  // One trial for the first set (the default then), three for the second; the pools hold the
  // angles known when each key first appeared.
  ASSERT_EQ(m.trials.size, 4);
  EXPECT_EQ(m.trials.head->value->num_targets, 9);
  EXPECT_EQ(m.trials.tail->value->num_targets, 12);
  EXPECT_EQ(m.angle_pools.at("90000"), (std::vector<float>{90, 180.5f}));
  EXPECT_EQ(m.angle_pools.at("120600"), (std::vector<float>{90, 180.5f}));
  // Capacity of the colour block is the 1 x 2 grid in force at its line.
  EXPECT_EQ(m.num_tarcol, 2);
  EXPECT_EQ(said, dir +
                      "/settings.txt:28: more colours than the 1 x 2 grid has cells; this and "
                      "later colours of the block are ignored\n");
}

TEST_F(settings, whatthemapcannotholdisrefusedonalineofitsown) {
  std::string text =
      "num_x: 600\nnum_y: 0\nnum_x: 300000000000000000000000000000\nrotation_angles:\n";
  for (int i = 0; i < 103; i++) text += std::to_string(i) + "\n";
  text += "angle_end:\ndiscolsetstart:\n9 9 9\nend:\ndiscolsetstart:\nend:\n";
  load(text);
  EXPECT_EQ(said, dir + "/settings.txt:1: num_x 600 is outside 1 to 512; num_x stays 5\n" + dir +
                      "/settings.txt:2: num_y 0 is outside 1 to 512; num_y stays 5\n" + dir +
                      "/settings.txt:105: more than 100 rotation_angles; this and later values of "
                      "the block are ignored\n");
  EXPECT_EQ(m.num_x, 5);
  EXPECT_EQ(m.num_y, 5);
  EXPECT_EQ(m.num_rotation_angles, 100);
  EXPECT_FLOAT_EQ(m.rotation_angles[99], 99.0f);
  // The second, empty block leaves no set, so the layout's default colour applies.
  EXPECT_EQ(m.discol, nullptr);
  EXPECT_EQ(m.num_discol, 0);
  EXPECT_EQ(echo(), "discolsetstart\n9\t9\t9\ndiscolsetstart\n");
}

struct recorder : settingsobserver {
  std::vector<std::string> heard;  // "line what key" per note
  void note(const settingsevent& e) override {
    static const char* names[] = {"setting",    "partial",  "nomatch", "blockopen",
                                  "blockclose", "unclosed", "value",   "badvalue",
                                  "setline",    "refused",  "clipped", "longline"};
    heard.push_back(std::to_string(e.line) + " " + names[static_cast<int>(e.what)] + " " + e.key);
  }
};

// The watcher's line numbers are an editor's: CR, LF and CR LF each end one line, and a line
// too long for the reader stays one line.
TEST(settingsreader, countslinesasaneditordoes) {
  std::string text = "num_x: 6\r\nnum_y: 6\rjunk\n\n" + std::string(300, 'x') +
                     "\nwait_lengths:\r\n1\r\n\r\nlength_end:\r\nnum_targets: 9";
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  maphdl m;
  mapdefaults(m);
  recorder r;
  readsettings(m, in, &r);
  fclose(in);
  EXPECT_EQ(r.heard,
            (std::vector<std::string>{
                "1 setting num_x", "2 setting num_y", "3 nomatch ", "4 nomatch ", "5 nomatch ",
                "5 longline ", "5 nomatch ", "6 blockopen wait_lengths", "7 value wait_lengths",
                "8 badvalue wait_lengths", "9 blockclose wait_lengths", "10 partial num_targets"}));
  EXPECT_EQ(m.num_targets_min, 9);
}
