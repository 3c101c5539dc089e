// Reading a run's files back: what each reader takes (the settings echo, records cut short,
// columns pushed on by a long value, columns a later log adds, both sidecar layouts) and a few
// faults by line. The hostile corpus (corpus_test.cpp, refusals.tsv) holds the rest of what
// they refuse, each file with its reason.
#include <gtest/gtest.h>

#include <sstream>

#include "model/map.h"
#include "replay/recorded.h"

namespace {

const std::string tabheader =
    "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\ttargets hit\t"
    "distracts hit\tempty hit\ttotal hit\n";

// A coordinate line: values in 13-character columns and a space, the last without the space.
std::string cols(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values)
    out += v + std::string(v.size() < 13 ? 14 - v.size() : 1, ' ');
  return out.substr(0, out.size() - 1) + "\n";
}

// The first `length` characters of the problem a reader reports, "" when it reads.
template <class R, class T>
std::string fault(R reader, const std::string& text, T* out, size_t length = 99) {
  std::string problem;
  return reader("f", text, out, &problem) ? "" : problem.substr(0, length);
}

// A log row from its cells separated by blanks, "n/a*k" standing for k cells of n/a.
std::string row(const std::string& cells) {
  std::istringstream in(cells);
  std::string line;
  for (std::string c; in >> c;) {
    const size_t star = c.find('*');
    for (int k = star == std::string::npos ? 1 : std::stoi(c.substr(star + 1)); k > 0; k--)
      line += (line.empty() ? "" : "\t") + c.substr(0, star);
  }
  return line + "\n";
}

// The log's header, with the names of later columns after the known ones.
std::string logheader(const std::string& later = "") {
  std::string header;
  for (const char* c : log_columns) header += (header.empty() ? "" : "\t") + std::string(c);
  return header + later + "\n";
}

}  // namespace

TEST(Recorded, TheEchoGivesGridRingsDepthAndColourSetsAndAKilledTrialKeepsItsStart) {
  tabfile tab;
  ASSERT_EQ(fault(readtab,
                  "num_targets\t9\t12\nnum_x\t512\nborderwidth\t4\ndepth_sep\t0.020000\n"
                  "discolsetstart\n1\t2\t3\ntarcolsetstart\n9\t8\t7\n6\t5\t4\ntarcolsetstart\n"
                  "200\t100\t0\n" +
                      tabheader +
                      "1\t9\t12\t1\t0\t1\t1.000000\t-90.000000\t2.000000\t"
                      "0.000000\t1.000000\t3.000000\t\nTrying to POP from an empty vector : 91013\n"
                      "2\t9\t12\t0\t1\t0\t3.000000\t0.000000\t",
                  &tab),
            "");
  ASSERT_EQ(tab.trials.size(), 2u);
  EXPECT_TRUE(tab.trials[0].finished && !tab.trials[1].finished && tab.trials[1].line == 15);
  maphdl m;
  mapdefaults(m);
  applysettings(tab.settings, m);
  EXPECT_EQ(std::vector<int>({m.num_x, m.num_y, m.borderwidth, m.num_tarcol, m.tarcol[0],
                              m.num_discol, m.discol[2]}),
            std::vector<int>({512, 5, 4, 1, 200, 1, 3}));  // a second block replaces the first
  EXPECT_FLOAT_EQ(m.depth_sep, 0.02f);
  // An empty block leaves no set, so the layout's default colour applies.
  ASSERT_EQ(fault(readtab, "num_y\t1\ntarcolsetstart\n" + tabheader, &tab), "");
  applysettings(tab.settings, m);
  EXPECT_TRUE(m.num_tarcol == 0 && m.tarcol == nullptr);
  EXPECT_EQ(fault(readtab, "num_x\t8\n", &tab, 17), "f: no header line");
  EXPECT_EQ(fault(readtab, "num_x\tten\n" + tabheader, &tab),
            "f:1: num_x \"ten\" is not a whole number");
  EXPECT_EQ(fault(readtab, "num_step\t1\n" + tabheader, &tab, 7), "f:1: ne");
  // A number is its whole field: no sign, nothing beyond what the program writes. (The corpus
  // holds the other faults of the tab file, each with the reason it is refused for.)
  for (const char* echo : {"num_x\t+6\n", "depth_sep\t1e99\n"})
    EXPECT_EQ(fault(readtab, echo + tabheader, &tab, 4), "f:1:") << echo;
}

TEST(Recorded, CoordinateColumnsFollowALongValueAndACutRecordHasNoCells) {
  std::vector<coordtrial> trials;
  const std::string lead(168, ' '), row = cols({"", "", "2", "8", "", ""});
  const std::string first =
      cols({"trial"}) +
      cols({"1", "2", "1", "1", "0", "0", "2.000000", "90.000000", "1.000000", "0.000000",
            "1.000000", "2.000000", "-1048576.000000", "3.500000", "4", "2", "0", "6"});
  const std::string cut = cols({"2", "1", "1", "1", "0", "0", "2.000000", "90.000000"});
  ASSERT_EQ(fault(readcoord, first + lead + row + lead + "\n" + cut.substr(0, 111), &trials), "");
  ASSERT_EQ(trials.size(), 2u);
  EXPECT_EQ(trials[0].targets, (std::vector<std::pair<int, int>>{{4, 2}, {2, 8}}));
  EXPECT_EQ(trials[0].distracts, (std::vector<std::pair<int, int>>{{0, 6}}));
  EXPECT_TRUE(!trials[1].finished && trials[1].targets.empty() && trials[1].line == 5);
  EXPECT_EQ(fault(readcoord, first + lead + " " + row, &trials),
            "f:3: the columns of a row do not read");
  // A click the program could not place is written as nan or -nan.
  const std::string nan = cols({"trial"}) +
                          cols({"1", "9", "12", "1", "0", "1", "1.000000", "-90.000000", "2.000000",
                                "0.000000", "1.000000", "3.000000", "nan", "-nan"}) +
                          lead + "\n";
  ASSERT_EQ(fault(readcoord, nan, &trials), "");
  EXPECT_TRUE(trials[0].start.targets == 9 && trials[0].start.rotate_angle == -90 &&
              trials[0].hits.total == 3 && trials[0].clicks.size() == 1);
}

// The wheel, input before PICK was on screen and a page's leaving and return are no clicks;
// a cut last line is left out.
TEST(Recorded, LogRowsAreReadByTheirColumnsAndOnlyClicksInPickAreClicks) {
  const std::string header = logheader("\tbutton\taction\tkey");
  const std::string start =
      row("n/a*2 1 trial_start 60 n/a*5 9 12 1 0 0 1.000000 90.000000 0 -1 n/a 7 4294967295 "
          "n/a*16");
  const std::string target =
      row("n/a*2 1 click n/a*18 13 23 1.500000 1.500000 1 1 target 0.7 n/a*5 0 press n/a");
  const std::string rows =
      start + row("n/a*2 1 early n/a*18 10 20 n/a*11 0 press n/a") +
      row("n/a*2 1 early n/a*31 n/a n/a s") + row("n/a*2 1 fullscreen_left n/a*34") +
      row("n/a*2 1 fullscreen_back n/a*34") + row("n/a*2 1 page_hidden n/a*34") +
      row("n/a*2 1 click n/a*18 11 21 2.500000 -0.250000 2 -1 off_grid 0.5 n/a*5 0 press n/a") +
      row("n/a*2 1 click n/a*18 12 22 n/a*4 wheel 0.6 n/a*5 3 press n/a") +
      row("n/a*2 1 page_shown n/a*34") + target;
  loggedevents log;
  ASSERT_EQ(fault(readlog, header + rows + target.substr(0, 40), &log), "");
  ASSERT_EQ(log.trials.size(), 1u);
  EXPECT_EQ(log.trials[0].seed_cells, 4294967295u);
  EXPECT_EQ(log.notes, std::vector<std::string>{"f:12: cut short (the run was stopped while "
                                                "writing it); left out"});
  const std::vector<loggedclick>& clicks = log.trials[0].clicks;
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_TRUE(clicks[0].result == "off_grid" && clicks[0].grid_y == -0.25 && clicks[0].row == -1);
  EXPECT_TRUE(clicks[1].result == "target" && clicks[1].x_px == 13 && clicks[1].line == 11);
  EXPECT_EQ(fault(readlog, header + target, &log),
            "f:2: click row of trial 1, which has no trial_start before it");
  // A log of an earlier version, without the columns later ones add after the known ones,
  // reads; but every row has the columns its header names.
  const std::string older =
      row("n/a*2 1 trial_start 60 n/a*5 9 12 1 0 0 1.000000 90.000000 0 -1 n/a 7 4 n/a*13");
  EXPECT_EQ(fault(readlog, logheader() + older, &log), "");
  EXPECT_EQ(fault(readlog, header + older, &log), "f:2: 35 columns where the header has 38");
}

TEST(Recorded, BothSidecarLayoutsReadWithAFolderInLatin1EscapedOrRaw) {
  sidecar side;
  ASSERT_EQ(fault(readsidecar, R"({"screen_width": 16384, "screen_height": 1,
                                  "viewport": [0, 0, 16384, 1]})",
                  &side),
            "");
  // The facts under "spatialmemory", beside a description of each column, or at the top level;
  // a folder named in Latin-1, escaped as the writer escapes it or written raw by an older one.
  const std::string facts =
      R"("settings_file": "/data/lat\u00e9/settings.txt",
         "settings_file_bytes": "/data/lat%E9/settings.txt",
         "screen_width": 1280, "screen_height": 800, "viewport": [0, 40, 1280, 720]})";
  std::string raw = "{" + facts;
  raw.replace(raw.find("\\u00e9"), 6, "\xe9");
  for (const std::string& doc :
       {R"({"onset": {"Description": "when", "Units": "s"},
            "StimulusPresentation": {"ScreenResolution": "640x400"},
            "spatialmemory": {)" +
            facts + "}",
        R"({"columns": {"onset": {"description": "when"}}, )" + facts, raw}) {
    side = {};
    EXPECT_EQ(fault(readsidecar, doc, &side), "") << doc;
    EXPECT_TRUE(side.screen_width == 1280 && side.screen_height == 800 && side.viewport &&
                (*side.viewport)[1] == 40)
        << doc;
  }
}
