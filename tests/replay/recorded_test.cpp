// Reading a run's files back: the settings echo, records cut short, coordinate columns pushed
// on by a long value, the log's faults by line.
#include <gtest/gtest.h>

#include <sstream>

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

// The first `length` characters of the problem a reader reports, "" when it reads.
template <class R, class T>
std::string fault(R reader, const std::string& text, T* out, size_t length) {
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

}  // namespace

TEST(Recorded, TheEchoGivesGridRingsDepthAndColourSetsAndAKilledTrialKeepsItsStart) {
  const std::string header =
      "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\ttargets hit\t"
      "distracts hit\tempty hit\ttotal hit\n";
  tabfile tab;
  ASSERT_EQ(fault(readtab,
                  "num_targets\t9\t12\nnum_x\t8\nborderwidth\t4\ndepth_sep\t0.020000\n"
                  "discolsetstart\n1\t2\t3\ntarcolsetstart\n9\t8\t7\n6\t5\t4\ntarcolsetstart\n"
                  "200\t100\t0\n" +
                      header +
                      "1\t9\t12\t1\t0\t1\t1.000000\t-90.000000\t2.000000\t"
                      "0.000000\t1.000000\t3.000000\t\nTrying to POP from an empty vector : 91013\n"
                      "2\t9\t12\t0\t1\t0\t3.000000\t0.000000\t",
                  &tab, 99),
            "");
  ASSERT_EQ(tab.trials.size(), 2u);
  EXPECT_TRUE(tab.trials[0].finished && !tab.trials[1].finished && tab.trials[1].line == 15);
  maphdl m;
  mapdefaults(m);
  applysettings(tab.settings, m);
  EXPECT_EQ(std::vector<int>({m.num_x, m.num_y, m.borderwidth, m.num_tarcol, m.tarcol[0],
                              m.num_discol, m.discol[2]}),
            std::vector<int>({8, 5, 4, 1, 200, 1, 3}));  // a second block replaces the first
  EXPECT_FLOAT_EQ(m.depth_sep, 0.02f);
  // An empty block leaves no set, so the layout's default colour applies.
  ASSERT_EQ(fault(readtab, "tarcolsetstart\n" + header, &tab, 99), "");
  applysettings(tab.settings, m);
  EXPECT_TRUE(m.num_tarcol == 0 && m.tarcol == nullptr);
  EXPECT_EQ(fault(readtab, "num_x\t8\n", &tab, 17), "f: no header line");
  EXPECT_EQ(fault(readtab, "num_x\tten\n" + header, &tab, 99),
            "f:1: num_x \"ten\" is not a whole number");
  EXPECT_EQ(fault(readtab, "num_step\t1\n" + header, &tab, 7), "f:1: ne");
  EXPECT_EQ(fault(readtab, header + "1\t9\t12\t1\t0\t1\t1.000000\t-90.000000\t\n", &tab, 99),
            "f:2: not a trial record");
}

TEST(Recorded, CoordinateColumnsFollowALongValueAndACutRecordHasNoCells) {
  std::vector<coordtrial> trials;
  const std::string lead(168, ' '), row = cols({"", "", "2", "8", "", ""});
  const std::string first =
      cols({"trial"}) +
      cols({"1", "2", "1", "1", "0", "0", "2.000000", "90.000000", "1.000000", "0.000000",
            "1.000000", "2.000000", "-1048576.000000", "3.500000", "4", "2", "0", "6"});
  const std::string cut = cols({"2", "1", "1", "1", "0", "0", "2.000000", "90.000000"});
  ASSERT_EQ(fault(readcoord, first + lead + row + lead + "\n" + cut.substr(0, 111), &trials, 99),
            "");
  ASSERT_EQ(trials.size(), 2u);
  EXPECT_EQ(trials[0].targets, (std::vector<std::pair<int, int>>{{4, 2}, {2, 8}}));
  EXPECT_EQ(trials[0].distracts, (std::vector<std::pair<int, int>>{{0, 6}}));
  EXPECT_TRUE(!trials[1].finished && trials[1].targets.empty() && trials[1].line == 5);
  EXPECT_EQ(fault(readcoord, first + lead + " " + row, &trials, 99),
            "f:3: the columns of a row do not read");
}

TEST(Recorded, LogFaultsAreNamedByLineAndACutLastLineIsLeftOutWithANote) {
  std::string header;
  for (const char* c : log_columns) header += (header.empty() ? "" : "\t") + std::string(c);
  const std::string start = row(
      "n/a*2 1 trial_start 60 n/a*5 9 12 1 0 0 1.000000 90.000000 0 -1 n/a 7 4294967295 n/a*13");
  const std::string click = row("n/a*2 1 click n/a*18 10 20 n/a*2 1 2 target n/a*6");
  header += "\n";
  loggedevents log;
  ASSERT_EQ(fault(readlog, header + start + click + click.substr(0, 40), &log, 99), "");
  ASSERT_EQ(log.trials.size(), 1u);
  EXPECT_TRUE(log.trials[0].seed_cells == 4294967295u && log.trials[0].clicks.size() == 1);
  EXPECT_EQ(log.notes, std::vector<std::string>{"f:4: cut short (the run was stopped while "
                                                "writing it); left out"});
  std::string no_seed = start;
  no_seed.replace(no_seed.rfind("\t7\t"), 3, "\tn/a\t");
  EXPECT_EQ(fault(readlog, header + no_seed, &log, 99),
            "f:2: trial_start row: seed_layout is n/a, not a number (a log without seeds cannot "
            "be replayed)");
  EXPECT_EQ(fault(readlog, header + click, &log, 99),
            "f:2: click row of trial 1, which has no trial_start before it");
  // Columns a later log adds after the known ones are read past, but every row must have them.
  const std::string wider = header.substr(0, header.size() - 1) + "\tbutton\taction\n";
  EXPECT_EQ(fault(readlog, wider + start.substr(0, start.size() - 1) + "\tn/a\tn/a\n", &log, 99),
            "");
  EXPECT_EQ(fault(readlog, wider + start, &log, 99), "f:2: 35 columns where the header has 37");
}

TEST(Recorded, ANumberIsItsWholeFieldAndWithinWhatTheProgramWrites) {
  const std::string header =
      "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\ttargets hit\t"
      "distracts hit\tempty hit\ttotal hit\n";
  const std::string trial =
      "1\t9\t12\t1\t0\t1\t1.000000\t-90.000000\t2.000000\t0.000000\t1.000000\t3.000000\t\n";
  tabfile tab;
  ASSERT_EQ(fault(readtab, "num_x\t512\nnum_y\t1\n" + header + trial, &tab, 99), "");
  EXPECT_EQ(fault(readtab, "num_y\t100000\n" + header + trial, &tab, 99),
            "f:1: num_y 100000 is outside 1 to 512, the grids the program lays out");
  EXPECT_EQ(fault(readtab, "num_x\t0\n" + header, &tab, 30), "f:1: num_x 0 is outside 1 to 5");
  // A NUL or any other character after a number; a sign; an infinity.
  for (const std::string& echo : {std::string("num_x\t6\0junk\n", 13), std::string("num_x\t+6\n"),
                                  std::string("depth_sep\t1e99\n")})
    EXPECT_EQ(fault(readtab, echo + header, &tab, 4), "f:1:") << echo;
  std::string nul = trial;
  nul.insert(nul.find("\t12\t"), std::string("\0", 1));
  for (const std::string& line : {nul, "1\t9\t12\t7" + trial.substr(trial.find("\t0\t1\t")),
                                  "99999999999999999999" + trial.substr(1)})
    EXPECT_EQ(fault(readtab, header + line, &tab, 99), "f:2: not a trial record") << line;

  // The coordinate file's first line holds the same eight values and the four counts.
  std::vector<coordtrial> coord;
  const std::string first = cols({"trial"}) +
                            cols({"1", "9", "12", "1", "0", "1", "1.000000", "-90.000000",
                                  "2.000000", "0.000000", "1.000000", "3.000000", "nan", "-nan"}) +
                            std::string(168, ' ') + "\n";
  ASSERT_EQ(fault(readcoord, first, &coord, 99), "");
  EXPECT_TRUE(coord[0].start.targets == 9 && coord[0].start.rotate_angle == -90 &&
              coord[0].hits.total == 3 && coord[0].clicks.size() == 1);
  std::string junk = first;
  junk.replace(junk.find("12 "), 2, "1x");
  EXPECT_EQ(fault(readcoord, junk, &coord, 99), "f:2: not the first line of a trial's record");

  // The sidecar's screen as --size allows it, and its picture on that screen.
  sidecar side;
  ASSERT_EQ(fault(readsidecar, R"({"screen_width": 16384, "screen_height": 1,
                                  "viewport": [0, 0, 16384, 1]})",
                  &side, 99),
            "");
  EXPECT_EQ(fault(readsidecar, R"({"screen_width": 16385, "screen_height": 800})", &side, 99),
            "f: screen_width is missing or not a size in pixels from 1 to 16384");
  EXPECT_EQ(fault(readsidecar,
                  R"({"screen_width": 1280, "screen_height": 800, "viewport": [0, 1, 1280, 800]})",
                  &side, 99),
            "f: viewport lies outside the screen");

  // The log's frame counts, which set the sway, are counts; its values are quoted short.
  std::string logheader;
  for (const char* c : log_columns) logheader += (logheader.empty() ? "" : "\t") + std::string(c);
  logheader += "\n";
  loggedevents log;
  for (const char* frame : {"-1", "1e300"})
    EXPECT_EQ(fault(readlog,
                    logheader + row(std::string("n/a*2 1 trial_start ") + frame +
                                    " n/a*5 9 12 1 0 0 1.000000 90.000000 0 -1 n/a 7 4 n/a*13"),
                    &log, 99),
              std::string("f:2: trial_start row: frame is \"") + frame + "\", not a frame count");
  EXPECT_EQ(
      fault(readlog, logheader + row("n/a*2 1 " + std::string(300, 'e') + " n/a*31"), &log, 99),
      "f:2: unknown event \"" + std::string(40, 'e') + "...\"");
}

TEST(Recorded, WheelEarlyAndPageRowsAreNoClicksAndBothSidecarLayoutsRead) {
  std::string header;
  for (const char* c : log_columns) header += (header.empty() ? "" : "\t") + std::string(c);
  header += "\tbutton\taction\tkey\n";
  const std::string rows =
      row("n/a*2 1 trial_start 60 n/a*5 9 12 1 0 0 1.000000 90.000000 0 -1 n/a 7 4 n/a*16") +
      row("n/a*2 1 early n/a*18 10 20 n/a*6 n/a*5 0 press n/a") +
      row("n/a*2 1 early n/a*20 n/a*11 n/a n/a s") + row("n/a*2 1 fullscreen_left n/a*34") +
      row("n/a*2 1 fullscreen_back n/a*34") + row("n/a*2 1 page_hidden n/a*34") +
      row("n/a*2 1 click n/a*18 11 21 2.500000 -0.250000 2 -1 off_grid 0.5 n/a*5 0 press n/a") +
      row("n/a*2 1 click n/a*18 12 22 n/a*4 wheel 0.6 n/a*5 3 press n/a") +
      row("n/a*2 1 page_shown n/a*34") +
      row("n/a*2 1 click n/a*18 13 23 1.500000 1.500000 1 1 target 0.7 n/a*5 0 press n/a");
  loggedevents log;
  ASSERT_EQ(fault(readlog, header + rows, &log, 99), "");
  ASSERT_EQ(log.trials.size(), 1u);
  const std::vector<loggedclick>& clicks = log.trials[0].clicks;
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_TRUE(clicks[0].result == "off_grid" && clicks[0].grid_y == -0.25 && clicks[0].row == -1);
  EXPECT_TRUE(clicks[1].result == "target" && clicks[1].x_px == 13 && clicks[1].line == 11);

  // The facts under "spatialmemory", beside a description of each column, or at the top level;
  // a folder named in Latin-1, escaped as the writer escapes it or written raw by an older one.
  const std::string facts =
      R"("settings_file": "/data/lat\u00e9/settings.txt",
         "settings_file_bytes": "/data/lat%E9/settings.txt",
         "screen_width": 1280, "screen_height": 800, "viewport": [0, 40, 1280, 720]})";
  std::string raw = "{" + facts;
  raw.replace(raw.find("\\u00e9"), 6, "\xe9");
  sidecar side;
  for (const std::string& doc :
       {R"({"onset": {"Description": "when", "Units": "s"},
            "StimulusPresentation": {"ScreenResolution": "640x400"},
            "spatialmemory": {)" +
            facts + "}",
        R"({"columns": {"onset": {"description": "when"}}, )" + facts, raw}) {
    side = {};
    EXPECT_EQ(fault(readsidecar, doc, &side, 99), "") << doc;
    EXPECT_TRUE(side.screen_width == 1280 && side.screen_height == 800 && side.viewport &&
                (*side.viewport)[1] == 40)
        << doc;
  }
  // Outside a string a byte that is not UTF-8 leaves the JSON as broken as it was.
  EXPECT_EQ(fault(readsidecar, "{\xe9\"screen_width\": 1}", &side, 99),
            "f: not a JSON object (cut short or damaged?)");
}
