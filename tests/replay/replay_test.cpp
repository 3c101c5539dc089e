// A run recorded through the live path, replayed: the same layouts from the logged seeds, the
// same frames, marks where the clicks were, refusals of a map that differs, and the tool's
// command line and file problems.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include <climits>
#include <map>

#include "replay/marks.h"
#include "replay/recorded.h"
#include "replay/recreate.h"
#include "replay/tool.h"
#include "tests/corpus.h"
#include "tests/model/modeltest.h"
#include "tests/replay/replaytest.h"

namespace {

struct outcome {
  int status;
  std::string out, err;  // standard output and standard error
};
outcome tool(std::vector<std::string> args) {
  args.insert(args.begin(), "spatialmemory-replay");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  testing::internal::CaptureStdout(), testing::internal::CaptureStderr();
  const int status = replaytool(static_cast<int>(argv.size()), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  return {status, out, testing::internal::GetCapturedStderr()};
}

// Pixels as 0xRRGGBB, rows from the top: of a frame read back from GL, or of a PNG file (none
// when it cannot be read).
std::vector<uint32_t> rgb(std::vector<uint32_t> px) {
  for (uint32_t& p : px) p &= 0xffffff;
  return px;
}
std::vector<uint32_t> rgb(const std::string& png, int* width = nullptr) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
  std::vector<uint32_t> px;
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    const uint32_t* data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    px.assign(data, data + cairo_image_surface_get_width(s) * cairo_image_surface_get_height(s));
    if (width) *width = cairo_image_surface_get_width(s);
  }
  cairo_surface_destroy(s);
  return rgb(px);
}

// A row of the log `header` describes, n/a but for the cells given as "column=value ...".
std::string logrow(const std::string& header, const std::string& cells) {
  std::map<std::string, std::string> given;
  std::istringstream in(cells);
  for (std::string c; in >> c;) given[c.substr(0, c.find('='))] = c.substr(c.find('=') + 1);
  std::istringstream names(header.substr(0, header.find('\n')));
  std::string line;
  for (std::string name; std::getline(names, name, '\t');)
    line += (line.empty() ? "" : "\t") + (given.count(name) ? given[name] : "n/a");
  return line + "\n";
}

}  // namespace

TEST(Replay, TheLoggedSeedsLayTheTrialOutAsTheLivePathDidAndAnotherMapIsRefused) {
  const liverun& live = liverun::get();
  recordedrun run;
  std::string problem;
  ASSERT_TRUE(readrun(live.file("results0.txt"), &run, &problem)) << problem;
  ASSERT_EQ(run.tab.trials.size(), 3u);
  maphdl m;
  mapdefaults(m);
  applysettings(run.tab.settings, m);
  for (size_t k = 0; k < 3; k++) {
    const livetrial& t = live.trials[k];
    const loggedtrial& log = run.log.trials[k];
    recreate(m, run.tab.trials[k].start, log.seed_layout, log.seed_cells);
    const rgbatex_t* made[3] = {&m.map_tex, &m.under_tex, &m.background_tex};
    for (int i = 0; i < 3; i++)
      EXPECT_TRUE(std::equal(t.textures[i].begin(), t.textures[i].end(), made[i]->data)) << k;
    EXPECT_EQ(items(m.target_cells), t.targets);
    EXPECT_EQ(items(m.distract_cells), t.distracts);
    EXPECT_TRUE(m.shift_step.x == t.shift.x && m.shift_step.y == t.shift.y);
    EXPECT_EQ(k < 2 ? differences(m, run.coord[k], log) : shiftdiffers(m, log), "");
  }
  // What another C library would make of the same seeds: other cells, or another shift.
  recreate(m, run.tab.trials[0].start, run.log.trials[0].seed_layout, run.log.trials[0].seed_cells);
  coordtrial other = run.coord[0];
  std::swap(other.targets[0], other.targets[1]);
  EXPECT_EQ(differences(m, other, run.log.trials[0]).substr(0, 11), "target 1 is");
  other = run.coord[0];
  other.distracts.pop_back();
  EXPECT_EQ(differences(m, other, run.log.trials[0]), "3 distractors re-created, 2 recorded");
  loggedtrial turned = run.log.trials[0];
  std::swap(turned.shift_x, turned.shift_y);
  EXPECT_EQ(differences(m, run.coord[0], turned).substr(0, 12), "the shift is");
  // A cell that differs in its row alone, of either kind.
  for (int kind = 0; kind < 2; kind++) {
    other = run.coord[0];
    std::pair<int, int>& cell = (kind == 0 ? other.targets : other.distracts).back();
    cell.second += 1;
    const std::string d = differences(m, other, run.log.trials[0]);
    EXPECT_NE(d.find("re-created but (" + std::to_string(cell.first) + "," +
                     std::to_string(cell.second) + ") recorded"),
              std::string::npos)
        << kind << ": " << d;
  }
  // Every cell of the 6 x 6 grid asked for: all nine candidates. Counts in the billions and
  // rings wider than the texture lay the same cells out at once.
  recordstart c = run.tab.trials[0].start;
  const unsigned seeds[2] = {run.log.trials[0].seed_layout, run.log.trials[0].seed_cells};
  c.targets = 36, c.distracts = 0;
  recreate(m, c, seeds[0], seeds[1]);
  const std::vector<int> every = items(m.target_cells);
  EXPECT_EQ(every.size(), 9u);
  echoedsettings wide = run.tab.settings;
  wide.borderwidth = INT_MAX;
  applysettings(wide, m);
  c.targets = INT_MAX, c.distracts = INT_MIN;
  recreate(m, c, seeds[0], seeds[1]);
  EXPECT_EQ(items(m.target_cells), every);
  EXPECT_EQ(m.distract_cells.size, 0);
}

TEST(Replay, TheMarksAreNumberedFromOneAndClicksAtOneSpotShareOne) {
  const std::vector<clickmark> marks = clickmarks({{10, 20, "target"},
                                                   {30, 20, "empty"},
                                                   {10, 20, "repeat"},
                                                   {10, 20, "repeat"},
                                                   {10, 20.5, "off_grid"}});
  std::vector<std::string> seen;
  for (const clickmark& k : marks) seen.push_back(k.label + " " + k.result);
  EXPECT_EQ(seen, (std::vector<std::string>{"1,3,4 target", "2 empty", "5 off_grid"}));
  EXPECT_EQ(marks[2].y, 20.5);
  EXPECT_TRUE(clickmarks({}).empty());
}

TEST(Replay, EachTrialIsDrawnAsSeenAsFarAsRecordedWithAMarkPerClickSpot) {
  const liverun& live = liverun::get();
  const outcome o = tool({live.file("results0.txt")});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "writing into " + live.file("replay0") +
                       "\ntrial 1: trial1-watch.png trial1-pick.png trial1-marked.png\n"
                       "trial 2: trial2-watch.png trial2-pick.png trial2-marked.png\n"
                       "trial 3: trial3-watch.png only: cut short before 's', the log has no "
                       "PICK for it (nor a WATCH row: the sway is that of the frame at 'g')\n");
  for (int k = 1; k <= 3; k++) {
    const livetrial& t = live.trials[k - 1];
    const std::string stem = live.file("replay0/trial" + std::to_string(k));
    EXPECT_EQ(rgb(stem + "-watch.png"), rgb(t.watch)) << k;
    EXPECT_EQ(rgb(stem + "-pick.png"), rgb(t.pick)) << k;  // none for trial 3
    // Each spot's mark, below its number, in the colour of the first click there.
    const std::vector<uint32_t> marked = rgb(stem + "-marked.png");
    for (size_t c = 0; c < t.clicks.size(); c++) {
      const size_t first =
          std::find(t.clicks.begin(), t.clicks.end(), t.clicks[c]) - t.clicks.begin();
      EXPECT_EQ(marked[(t.clicks[c][1] + 4) * liverun::W + t.clicks[c][0]],
                markcolour(t.results[first]));
    }
    EXPECT_EQ(t.results.size(), k < 3 ? 8u : 0u);
  }
  EXPECT_EQ(live.trials[0].results[4], "empty");
  // Again: a new folder beside the first, said so; and at another size.
  const outcome again = tool({live.file("results0.txt"), "--trial", "2", "--size", "400x400"});
  EXPECT_EQ(again.out.substr(0, again.out.find('\n')), live.file("replay0") +
                                                           " exists already: writing into " +
                                                           live.file("replay0-2") + " instead");
  int width = 0;
  EXPECT_EQ(rgb(live.file("replay0-2/trial2-marked.png"), &width).size(), 400u * 400u);
  EXPECT_EQ(width, 400);
}

TEST(Replay, ProblemsAreOneLineNamingTheFileAndARefusedTrialFailsTheRun) {
  const liverun& live = liverun::get();
  const std::string results = live.file("results0.txt"), out = live.file("out");
  outcome o = tool({"--help"});
  for (const char* option : {"RESULTS_FILE", "--trial K", "--out DIR", "--size WxH", "--version"})
    EXPECT_NE(o.out.find(option), std::string::npos) << option;
  EXPECT_EQ(tool({"--version"}).out, "spatialmemory-replay " SPATIALMEMORY_VERSION "\n");
  for (std::vector<std::string> wrong : std::vector<std::vector<std::string>>{
           {results, "--frames"}, {results, "--size", "640"}, {results, "--trial", "0"}, {}}) {
    o = tool(wrong);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("\nusage: spatialmemory-replay RESULTS_FILE"), std::string::npos);
  }
  o = tool({results, "--trial", "4", "--out", out});
  EXPECT_EQ(o.err, "spatialmemory-replay: " + results + ": no trial 4 (it holds trials 1 to 3)\n");
  EXPECT_EQ(o.status, 1);
  // A file already there stops the tool before it draws anything.
  mkdir(out.c_str(), 0755);
  std::ofstream(out + "/trial2-marked.png") << "keep";
  o = tool({results, "--trial", "1", "--trial", "2", "--out", out});
  EXPECT_EQ(o.err, "spatialmemory-replay: " + out +
                       "/trial2-marked.png: exists already; not "
                       "overwritten\n");
  EXPECT_EQ(access((out + "/trial1-watch.png").c_str(), F_OK), -1);
  // A copy of the run whose coordinate file holds another first distractor for trial 1.
  const std::string copy = live.file("copy");
  ASSERT_EQ(std::system(("mkdir " + copy + " && cp " + live.file("results*") + " " + copy).c_str()),
            0);
  std::string coord;
  ASSERT_TRUE(slurp(copy + "/results_coord0.txt", &coord, &o.err));
  const size_t at = coord.find('\n', coord.find('\n') + 1) - 27;  // on trial 1's first line
  coord[at] = coord[at] == '0' ? '2' : '0';
  std::ofstream(copy + "/results_coord0.txt") << coord;
  o = tool({copy + "/results0.txt"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.substr(0, 100),
            "spatialmemory-replay: trial 1 not drawn: the re-created map is "
            "not the one recorded (distractor 1 is");
  EXPECT_NE(o.out.find("trial 2: trial2-watch.png trial2-pick.png"), std::string::npos);
  unlink((copy + "/results_events0.json").c_str());
  EXPECT_EQ(tool({copy + "/results0.txt"}).err,
            "spatialmemory-replay: " + copy + "/results_events0.json: No such file or directory\n");
}

TEST(Replay, FilesOfAnotherRunAreRefusedAndNoWheelOrEarlyRowIsAClick) {
  // The coordinate file's first line of trial 1, its values in 14-character columns.
  const std::string copy = liverun::get().copy("another");
  const std::string coord = readall(copy + "/results_coord0.txt");
  const size_t first = coord.find('\n') + 1;
  const std::string results = copy + "/results0.txt";
  const std::string tab = readall(results);
  const std::string tabline =
      std::to_string(std::count(tab.begin(), tab.begin() + tab.find("\n1\t"), '\n') + 2);
  const std::string refused = "spatialmemory-replay: " + copy + "/results_coord0.txt:2: trial 1's ";
  for (int column : {1, 7, 8}) {  // targets, the angle, targets hit
    std::string other = coord;
    other[first + 14 * column] = other[first + 14 * column] == '9' ? '8' : '9';
    std::ofstream(copy + "/results_coord0.txt", std::ios::binary) << other;
    const outcome o = tool({results, "--trial", "1", "--out", copy + "/out"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(
        o.err,
        refused + (column == 8 ? "hits differ from those" : "condition differs from the one") +
            " of " + results + " line " + tabline + ": the coordinate file is of another run\n")
        << column;
  }
  std::ofstream(copy + "/results_coord0.txt", std::ios::binary) << coord;

  // Wheel turns and input before PICK, among trial 1's rows: the run replays as it did.
  const std::string log = readall(copy + "/results_events0.tsv");
  const size_t end = log.find("\t1\ttrial_end\t");
  const size_t at = log.rfind('\n', end) + 1;
  std::string busy = log;
  busy.insert(at, logrow(log, "trial=1 event=early key=s") +
                      logrow(log, "trial=1 event=early x_px=5 y_px=6 button=0 action=press") +
                      logrow(log,
                             "trial=1 event=click x_px=5 y_px=6 result=wheel rt=0.5 button=3 "
                             "action=press"));
  std::ofstream(copy + "/results_events0.tsv", std::ios::binary) << busy;
  outcome o = tool({results, "--trial", "1", "--out", copy + "/busy"});
  EXPECT_EQ(o.status, 0) << o.err;
  // A click beside the grid is a click of the coordinate file's list: one it lacks is refused.
  busy.insert(at, logrow(log,
                         "trial=1 event=click x_px=5 y_px=6 grid_x=-0.500000 "
                         "grid_y=2.000000 col=-1 row=2 result=off_grid rt=0.5"));
  std::ofstream(copy + "/results_events0.tsv", std::ios::binary) << busy;
  o = tool({results, "--trial", "1", "--out", copy + "/more"});
  EXPECT_EQ(o.status, 1);
  recordedrun run;
  ASSERT_TRUE(readrun(liverun::get().file("results0.txt"), &run, &o.err));
  const size_t spots = run.coord[0].clicks.size();  // a press and its release at one spot
  EXPECT_EQ(spots, 3u);
  EXPECT_EQ(o.err,
            "spatialmemory-replay: " + copy + "/results_events0.tsv:" +
                std::to_string(
                    std::count(log.begin(), log.begin() + log.find("\t1\ttrial_start"), '\n') + 1) +
                ": trial 1's clicks (" + std::to_string(spots + 1) + " spots) are not those of " +
                copy + "/results_coord0.txt line 2 (" + std::to_string(spots) +
                "): the files are not of one run\n");
}

TEST(Replay, FilesCutShortByAFullDiskKeepEveryTrialBeforeTheCut) {
  // The run stopped at trial 2's 's': its coordinate record ends in the middle of its rows
  // (the cut leaves a row that still reads), the tab file's next line is cut mid-value, the
  // log holds nothing after trial 2's WAIT.
  const std::string copy = liverun::get().copy("full");
  const std::string coord = readall(copy + "/results_coord0.txt");
  const size_t second = coord.find("\n2 ") + 1;
  const size_t rows = coord.find('\n', second) + 1;  // trial 2's second row
  std::ofstream(copy + "/results_coord0.txt", std::ios::binary)
      << coord.substr(0, coord.find(' ', rows + 168 + 14 * 3));
  const std::string tab = readall(copy + "/results0.txt");
  std::ofstream(copy + "/results0.txt", std::ios::binary)
      << tab.substr(0, tab.find("\n3\t") + 4) + "2";
  const std::string log = readall(copy + "/results_events0.tsv");
  std::ofstream(copy + "/results_events0.tsv", std::ios::binary)
      << log.substr(0, log.find('\n', log.find("\t2\tWAIT\t")) + 1);
  const outcome o = tool({copy + "/results0.txt", "--out", copy + "/out"});
  EXPECT_EQ(o.status, 0) << o.err;
  const int tabline =
      static_cast<int>(std::count(tab.begin(), tab.begin() + tab.find("\n3\t"), '\n')) + 2;
  const int coordline =
      static_cast<int>(std::count(coord.begin(), coord.begin() + second, '\n')) + 1;
  EXPECT_EQ(o.out, "note: " + copy + "/results0.txt:" + std::to_string(tabline) +
                       ": cut short (the run was stopped while writing it); left out\n"
                       "note: " +
                       copy + "/results_coord0.txt:" + std::to_string(coordline) +
                       ": cut short (the run was stopped while writing it); trial 2 is drawn as "
                       "one cut short\nwriting into " +
                       copy +
                       "/out\n"
                       "trial 1: trial1-watch.png trial1-pick.png trial1-marked.png\n"
                       "trial 2: trial2-watch.png only: cut short before 's', the log has no PICK "
                       "for it\n");
  EXPECT_EQ(rgb(copy + "/out/trial2-watch.png"), rgb(liverun::get().trials[1].watch));
}
