// Reading a run's files back: the settings echo, trial records cut short, coordinate columns
// pushed on by a long value, the log's faults by line, the sidecar, the names of a run's files.
#include <gtest/gtest.h>

#include "model/map.h"
#include "replay/recorded.h"

namespace {

// A coordinate line: values in 13-character columns and a space, the last without the space.
std::string cols(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values)
    out += v + std::string(v.size() < 13 ? 14 - v.size() : 1, ' ');
  return out.substr(0, out.size() - 1) + "\n";
}

const std::string tab_header =
    "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\ttargets hit\t"
    "distracts hit\tempty hit\ttotal hit\n";

}  // namespace

TEST(Recorded, TheEchoGivesGridRingsDepthAndColourSetsAndAKilledTrialKeepsItsStart) {
  const std::string echo =
      "num_targets\t9\t12\nnum_x\t8\nborderwidth\t4\ndepth_sep\t0.020000\ndiscolsetstart\n"
      "1\t2\t3\ntarcolsetstart\n9\t8\t7\n6\t5\t4\ntarcolsetstart\n200\t100\t0\n"
      "watch_length\t6.000000\n";
  tabfile tab;
  std::string problem;
  ASSERT_TRUE(readtab("t",
                      echo + tab_header +
                          "1\t9\t12\t1\t0\t1\t1.000000\t-90.000000\t2.000000\t"
                          "0.000000\t1.000000\t3.000000\t\nTrying to POP from an empty vector : "
                          "91013\n2\t9\t12\t0\t1\t0\t3.000000\t0.000000\t",
                      &tab, &problem))
      << problem;
  ASSERT_EQ(tab.trials.size(), 2u);
  EXPECT_TRUE(tab.trials[0].finished && !tab.trials[1].finished);
  EXPECT_EQ(tab.trials[0].start.rotate_angle, -90);
  EXPECT_EQ(tab.trials[1].line, 16);
  maphdl m;
  mapdefaults(m);
  applysettings(tab.settings, m);
  EXPECT_EQ(std::vector<int>({m.num_x, m.num_y, m.borderwidth, m.num_tarcol, m.tarcol[0],
                              m.num_discol, m.discol[2]}),
            std::vector<int>({8, 5, 4, 1, 200, 1, 3}));  // a second block replaces the first
  EXPECT_FLOAT_EQ(m.depth_sep, 0.02f);
  // An empty block leaves no set, so the layout's default colour applies.
  ASSERT_TRUE(readtab("t", "tarcolsetstart\n" + tab_header, &tab, &problem));
  applysettings(tab.settings, m);
  EXPECT_TRUE(m.num_tarcol == 0 && m.tarcol == nullptr);
  // What cannot be a run's tab file, by line.
  for (auto [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"num_x\t8\n", "t: no header line"},
           {"num_x\tten\n" + tab_header, "t:1: neither an echoed setting"},
           {tab_header + "2\t9\t12\t1\t0\t1\t1.000000\t-90.000000\t\n", "t:2: not a trial record"},
           {tab_header + "2\t9\t12\t1\t0\t1\t1.000000\t-90.000000\t",
            "t:2: trial 2 where trial 1"}})
    EXPECT_EQ(readtab("t", text, &tab, &problem) ? "" : problem.substr(0, message.size()), message);
}

TEST(Recorded, CoordinateColumnsFollowALongValueAndACutRecordHasNoCells) {
  std::vector<coordtrial> trials;
  std::string problem;
  const std::string lead(168, ' ');
  const std::string first =
      cols({"1", "2", "1", "1", "0", "0", "2.000000", "90.000000", "1.000000", "0.000000",
            "1.000000", "2.000000", "-1048576.000000", "3.500000", "4", "2", "0", "6"});
  const std::string row = cols({"", "", "2", "8", "", ""});
  const std::string cut = cols({"2", "1", "1", "1", "0", "0", "2.000000", "90.000000"});
  const std::string header = cols({"trial", "targets"});
  ASSERT_TRUE(readcoord("c", header + first + lead + row + lead + "\n" + cut.substr(0, 111),
                        &trials, &problem))
      << problem;
  ASSERT_EQ(trials.size(), 2u);
  EXPECT_EQ(trials[0].targets, (std::vector<std::pair<int, int>>{{4, 2}, {2, 8}}));
  EXPECT_EQ(trials[0].distracts, (std::vector<std::pair<int, int>>{{0, 6}}));
  EXPECT_TRUE(!trials[1].finished && trials[1].targets.empty() && trials[1].line == 5);
  EXPECT_FALSE(readcoord("c", header + first + lead + " " + row, &trials, &problem));
  EXPECT_EQ(problem, "c:3: the columns of a row do not read");
}

TEST(Recorded, LogFaultsAreNamedByLineAndACutLastLineIsLeftOutWithANote) {
  std::string header;
  for (const char* c : log_columns) header += (header.empty() ? "" : "\t") + std::string(c);
  auto row = [](std::vector<std::pair<int, std::string>> values) {
    std::vector<std::string> f(35, "n/a");
    for (auto& [column, value] : values) f[column] = value;
    std::string line;
    for (const std::string& v : f) line += (line.empty() ? "" : "\t") + v;
    return line + "\n";
  };
  const std::string start = row({{2, "1"},
                                 {3, "trial_start"},
                                 {4, "60"},
                                 {10, "9"},
                                 {11, "12"},
                                 {12, "1"},
                                 {13, "0"},
                                 {14, "0"},
                                 {15, "1.000000"},
                                 {16, "90.000000"},
                                 {17, "0"},
                                 {18, "-1"},
                                 {20, "7"},
                                 {21, "4294967295"}});
  const std::string click =
      row({{2, "1"}, {3, "click"}, {22, "10"}, {23, "20"}, {26, "1"}, {27, "2"}, {28, "target"}});
  loggedevents log;
  std::string problem;
  header += "\n";
  ASSERT_TRUE(readlog("e", header + start + click + click.substr(0, 40), &log, &problem));
  ASSERT_EQ(log.trials.size(), 1u);
  EXPECT_EQ(log.trials[0].seed_cells, 4294967295u);
  EXPECT_EQ(log.trials[0].clicks.size(), 1u);
  EXPECT_EQ(log.notes, std::vector<std::string>{"e:4: cut short (the run was stopped while "
                                                "writing it); left out"});
  std::string no_seed = start;
  no_seed.replace(no_seed.rfind("\t7\t"), 3, "\tn/a\t");
  for (auto [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"onset\n", "e: the first line is not the event log's header"},
           {header + click, "e:2: click row of trial 1, which has no trial_start before it"},
           {header + no_seed, "e:2: trial_start row: seed_layout is n/a, not a number (a log"},
           {header + start + start, "e:3: a second trial_start for trial 1"},
           {header + start + click.substr(4), "e:3: 34 columns where the header has 35"}})
    EXPECT_EQ(readlog("e", text, &log, &problem) ? "" : problem.substr(0, message.size()), message);
}

TEST(Recorded, TheSidecarGivesTheScreenAndTheResultsNameTheOtherFiles) {
  sidecar s;
  std::string problem;
  ASSERT_TRUE(readsidecar("j",
                          "{\"columns\": {\"x\": [1]}, \"screen_width\": 1280, "
                          "\"screen_height\": 1024, \"viewport\": [0, 112, 1280, 800]}",
                          &s, &problem));
  EXPECT_EQ(s.screen_height, 1024);
  EXPECT_EQ(*s.viewport, (std::vector<int>{0, 112, 1280, 800}));
  EXPECT_FALSE(readsidecar("j", "{\"screen_width\": 1280, \"screen_height\": 0}", &s, &problem));
  EXPECT_EQ(problem, "j: screen_height is missing or not a size in pixels");
  runfiles f;
  ASSERT_TRUE(runfilesfor("/data/s.1/results12.txt", &f, &problem));
  EXPECT_EQ(f.log + " " + f.coord, "/data/s.1/results_events12.tsv /data/s.1/results_coord12.txt");
  for (const char* wrong : {"results_coord1.txt", "results.txt", "results01.txt", "results1.tsv"})
    EXPECT_FALSE(runfilesfor(wrong, &f, &problem)) << wrong;
}
