// The design and its files: settings.txt (echo, values read so far, block order, refusals and
// their line numbers), the trials built from set lines, and the results files' run number.
#include "tests/model/modeltest.h"

struct Settings : tempfolder {
  maphdl m;
  std::string said;  // what loadsettings printed on standard output

  void load(const std::string& text, const char* name = "settings.txt") {
    ASSERT_TRUE(m.results_file || m.init());
    write("settings.txt", text);
    testing::internal::CaptureStdout();
    m.loadsettings(name);
    said = testing::internal::GetCapturedStdout();
    fflush(m.results_file);
  }
};

TEST_F(Settings, NearMissesAreSkippedAndEveryMatchIsEchoedByteForByte) {
  // Each line with its echo; "" where the line matches no key, or a key only in part.
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"num_x: 7\n", "num_x\t7\n"}, {"num_x:8\n", "num_x\t8\n"}, {" num_y: 3\n", ""},
      {"Num_y: 3\n", ""}, {"num_y : 4\n", ""}, {"num_y: 6 cells\n", "num_y\t6\n"},
      {"num_targets: 3 to 9\n", "num_targets\t3\t9\n"}, {"num_targets: 4\n", ""},
      {"num_distracts: 5 to\n", ""}, {"depth_sep: 0.05\n", "depth_sep\t0.050000\n"},
      {"watch_length: 10\n", "watch_length\t10.000000\n"}, {"shift_length: abc\n", ""},
      {"rotate_length:3.5\n", "rotate_length\t3.500000\n"}, {"wait_lengths\n", ""},
      {"num_trials_per_set: 2\n", "num_trials_per_set\t2\n"}, {"7\n", ""},
      {"borderwidth: 3\r\n", "borderwidth\t3\n"}, {"num_blank_wait: -1\n", "num_blank_wait\t-1\n"},
      {"num_with_borders:\t2\r", "num_with_borders\t2\n"},
      {"num_instant_shifts: 99999999999999999999\n", ""},
      {"discolsetstart: whatever\n", "discolsetstart\n"}, {"300 20 10\n", "44\t20\t10\n"},
      {"1 2\n", ""}, {"-1 256 7 extra\n", "255\t0\t7\n"}, {"end:\n", ""}};
  // clang-format on
  std::string text, echo;
  for (const auto& [line, echoed] : lines) text += line, echo += echoed;
  load(text);
  EXPECT_EQ(read("results0.txt"), echo);
  EXPECT_EQ(said, "");
  // A key matched in part keeps the numbers read before the mismatch.
  EXPECT_EQ(std::vector<int>({m.num_targets_min, m.num_targets_max, m.num_distracts_min,
                              m.num_distracts_max, m.num_instant_shifts, m.num_wait_lengths}),
            std::vector<int>({4, 9, 5, 2, 0, 0}));
}

TEST_F(Settings, BlocksUseTheValuesReadSoFar) {
  load(
      "rotation_angles\n90\nnot a number\n180.5\nangle_end: and more\n"
      "target_distract_sets:\n9 12\nset_end\n"
      "num_trials_per_set: 2\n"
      "wait_lengths:\n2\n2.0\nlength_end\n6\nlength_end:\n"
      "target_distract_sets:\n12 9\n15\n12 10\nset_end:\n"
      "rotation_angles:\n270\nangle_end:\ntarget_distract_sets:\n12 9\nset_end:\n"
      "num_x: 1\nnum_y: 2\ntarcolsetstart:\n1 1 1\n2 2 2\n3 3 3\nend:\n"
      "num_x: 4\nwait_lengths:\n9\n");
  auto list = [](const float* v, int n) { return std::vector<float>(v, v + n); };
  EXPECT_EQ(list(m.rotation_angles, m.num_rotation_angles), (std::vector<float>{90, 180.5f, 270}));
  // The unclosed block runs to the end of the file and appends to the first.
  EXPECT_EQ(list(m.wait_lengths, m.num_wait_lengths), (std::vector<float>{2, 2, 6, 9}));
  // One trial for the first set line, two for each later one, whose wait lengths run on from
  // line to line of a block; each pool holds the angles known when its key first appeared, and
  // a later block of the same condition draws on it without refilling it.
  std::vector<std::pair<int, int>> made;  // targets and wait index of each trial
  for (const trial* t : items(m.trials)) made.emplace_back(t->num_targets, t->wait_index);
  EXPECT_EQ(made, (std::vector<std::pair<int, int>>{
                      {9, 0}, {12, 0}, {12, 1}, {12, 2}, {12, 0}, {12, 0}, {12, 1}}));
  const std::vector<float> known = {90, 180.5f};
  EXPECT_EQ(m.angle_pools, (std::map<std::string, std::vector<float>>{
                               {"90000", known}, {"120200", known}, {"120600", known}}));
  // The colour block holds as many colours as the 1 x 2 grid in force at its line has cells.
  EXPECT_EQ(m.num_tarcol, 2);
  EXPECT_EQ(said, dir +
                      "/settings.txt:32: more colours than the 1 x 2 grid has cells; this and "
                      "later colours of the block are ignored\n");
}

// shuffle_angles: 1 shuffles each pool once the whole file is read, from a seed of its own, and
// is never echoed; without the line the pools keep the file's order and nothing is reseeded.
TEST_F(Settings, ShuffledPoolsFollowFromTheirSeedAndTheFileWithoutTheLineIsAsBefore) {
  static unsigned next_seed, reseeds;
  unsigned (*saved)() = seedsource;
  seedsource = [] { return reseeds++, next_seed; };
  const std::string design =
      "rotation_angles:\n10\n20\n30\n40\n50\n60\nangle_end:\nnum_trials_per_set: 2\n"
      "num_with_borders: 1\ntarget_distract_sets:\n9 12\n12 9\nset_end:\n";
  const std::vector<float> listed = {10, 20, 30, 40, 50, 60};
  // The pools a fresh map makes of the file, the seed taken at `seed`, and the reseeds made.
  auto pools = [&](const std::string& text, unsigned seed) {
    write("settings.txt", text);
    maphdl fresh;
    mapdefaults(fresh);
    next_seed = seed, reseeds = 0;
    testing::internal::CaptureStdout();
    fresh.loadsettings("settings.txt");
    said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(fresh.shuffle_angles, reseeds == 1);
    EXPECT_EQ(fresh.shuffle_seed, fresh.shuffle_angles ? seed : 0u);
    return fresh.angle_pools;
  };
  const auto plain = pools(design, 5);
  EXPECT_EQ(reseeds, 0u);
  EXPECT_EQ(plain.size(), 4u);
  for (const auto& p : plain) EXPECT_EQ(p.second, listed) << p.first;

  const auto first = pools(design + "shuffle_angles: 1\n", 77);
  EXPECT_EQ(reseeds, 1u);
  // The same seed, the same order wherever the line stands; and from the pools as read, with
  // the generator seeded so, the same again.
  EXPECT_EQ(pools("shuffle_angles: 1\n" + design, 77), first);
  auto again = plain;
  seedrandom(77);
  shufflepools(&again);
  EXPECT_EQ(again, first);
  int moved = 0;
  for (const auto& p : first) {
    std::vector<float> sorted = p.second;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, listed) << p.first;
    moved += p.second != listed;
  }
  EXPECT_GT(moved, 1);
  EXPECT_NE(pools(design + "shuffle_angles: 1\n", 78), first);
  // Anything but 0 or 1 is refused, and 0 is off.
  EXPECT_EQ(pools(design + "shuffle_angles: 2\nshuffle_angles: 0\n", 77), plain);
  EXPECT_EQ(said, dir +
                      "/settings.txt:15: shuffle_angles 2 is neither 0 nor 1; "
                      "shuffle_angles stays 0\n");
  // Never echoed: the tab results file stays as it always was.
  load("num_x: 6\nshuffle_angles: 1\n");
  EXPECT_EQ(read("results0.txt"), "num_x\t6\n");
  seedsource = saved;
}

// Refusals name their line as an editor counts it: CR, LF, CR LF and a too long line are one.
TEST_F(Settings, WhatTheMapCannotHoldIsRefusedOnALineOfItsOwn) {
  std::string text = "num_x: 600\r\nnum_y: 0\r" + std::string(300, 'x') +
                     "\n\nnum_x: 300000000000000000000000000000\nrotation_angles:\r\n";
  for (int i = 0; i < 103; i++) text += std::to_string(i) + "\r\n";
  load(text + "angle_end:\ndiscolsetstart:\n9 9 9\nend:\ndiscolsetstart:\nend:\nnum_y: 512\n" +
       "num_trials_per_set: 50000\ntarget_distract_sets:\n9 9\n9 12\n9 15\nset_end:\n");
  const std::string at = dir + "/settings.txt:";
  EXPECT_EQ(said, at + "1: num_x 600 is outside 1 to 512; num_x stays 5\n" + at +
                      "2: num_y 0 is outside 1 to 512; num_y stays 5\n" + at +
                      "107: more than 100 rotation_angles; this and later values of the block are "
                      "ignored\n" +
                      at + "121: more than 100000 trials in all; this set line is ignored\n");
  // The limits themselves are accepted: a side of 512, exactly 100000 trials.
  EXPECT_EQ(std::vector<int>({m.num_x, m.num_y, m.trials.size}),
            std::vector<int>({5, 512, 100000}));
  EXPECT_EQ(m.num_rotation_angles * 1000 + m.rotation_angles[99], 100099);
  // The second, empty block leaves no set, so the layout's default colour applies.
  EXPECT_TRUE(m.discol == nullptr && m.num_discol == 0);
  EXPECT_EQ(read("results0.txt"),
            "discolsetstart\n9\t9\t9\ndiscolsetstart\nnum_y\t512\nnum_trials_per_set\t50000\n");
  // A name too long for the buffer is not found: cut short, "./././..." names the folder.
  std::string name;
  for (int i = 0; i < 125; i++) name += "./";
  load("num_x: 7\n", (name + "settings.txt").c_str());
  EXPECT_EQ(said, "settings file name longer than 255 characters\nerror, file not found! " + dir +
                      "/" + name + "settings.txt\nusing defaults\n");
  EXPECT_EQ(m.num_x, 5);
}

TEST(TrialSets, EachSetHasExactlyItsFlagCountsWithTheBlankWaitsLast) {
  // Trials per set, with borders, with instant shifts, with blank waits.
  for (auto [n, b, i, w] : std::vector<std::array<int, 4>>{
           {4, 2, 0, 1}, {2, 5, 0, 0}, {5, 0, 5, 2}, {6, 3, 3, 6}, {3, -1, 1, -4}, {0, 1, 1, 1}}) {
    for (unsigned seed = 1; seed <= 20; seed++) {
      maphdl m;
      mapdefaults(m);
      m.num_trials_per_set = n;
      m.num_with_borders = b;
      m.num_instant_shifts = i;
      m.num_blank_wait = w;
      seedrandom(seed);
      int pos = 0;
      m.addtrialset(9, 12, &pos);
      m.addtrialset(12, 9, &pos);
      const std::vector<trial*> made = items(m.trials);
      ASSERT_EQ(made.size(), 2u * std::max(n, 0));
      std::array<int, 4> flags = {};  // borders of each set, then instant shifts of each set
      for (size_t k = 0; k < made.size(); k++) {
        const int set = k / n, place = k % n;
        EXPECT_EQ(made[k]->blank_wait, place >= n - w) << n << " " << w << " " << place;
        flags[set] += made[k]->borders;
        flags[2 + set] += made[k]->instant_shift;
      }
      const int borders = std::clamp(b, 0, n), instants = std::clamp(i, 0, n);
      EXPECT_EQ(flags, (std::array<int, 4>{borders, borders, instants, instants}))
          << n << " " << b << " " << i << " seed " << seed;
    }
  }
}

using Results = tempfolder;

// The names of the three files made in the folder, or "failed".
static std::string opennumber(const std::string& folder) {
  FILE* files[run_files];
  char names[run_files][256];
  int n;
  if (!openresults(folder.c_str(), files, names, &n)) return "failed";
  std::string out = std::to_string(n);
  for (int i = 0; i < run_files; i++)
    fclose(files[i]), out += " " + std::string(names[i] + folder.size() + 1);
  return out;
}

TEST_F(Results, TakesTheFirstNumberFreeForAllFourNamesTouchingNoOtherOrSaysWhyNot) {
  // The folder is synced once the files stand in it: what each sync found there.
  static std::vector<std::string> synced;
  static std::string watched;
  synced.clear(), watched = dir;
  foldersync = [](const char* folder) {
    std::string seen = folder;
    for (const char* name : {"/results0.txt", "/results_coord0.txt", "/results_events0.tsv"})
      seen += std::ifstream(watched + name).good() ? " " + std::string(name + 1) : "";
    synced.push_back(seen);
    return true;
  };
  EXPECT_EQ(opennumber(dir), "0 results0.txt results_coord0.txt results_events0.tsv");
  EXPECT_EQ(synced,
            std::vector<std::string>{dir + " results0.txt results_coord0.txt results_events0.tsv"});
  foldersync = syncfolder;
  // A gap is filled, but not where any one of the four names of an older run stands, the
  // sidecar, which the run renames into place, included.
  write("results1.txt", "old tab");
  write("results_coord2.txt", "old coordinates");
  write("results_events3.tsv", "old log");
  write("results_events4.json", "old sidecar");
  EXPECT_EQ(opennumber(dir), "5 results5.txt results_coord5.txt results_events5.tsv");
  EXPECT_EQ(read("results1.txt") + read("results_coord2.txt") + read("results_events3.tsv") +
                read("results_events4.json"),
            "old tabold coordinatesold logold sidecar");
  EXPECT_FALSE(std::ifstream(dir + "/results2.txt").good());
  // Names too long fail with the folder; a folder that cannot take the files (the end-to-end
  // run tries a read-only one) fails in the map's own start, which leaves no handle behind.
  const std::string longer = dir + "/" + std::string(240, 'd');
  testing::internal::CaptureStderr();
  EXPECT_EQ(opennumber(longer), "failed");
  snprintf(path, sizeof path, "%s/missing", dir.c_str());
  maphdl m;
  EXPECT_FALSE(m.init());  // the map's own start says so and leaves no handle behind
  EXPECT_TRUE(!m.results_file && !m.coord_file && !m.events_file);
  // A folder that cannot be synced fails the start as well, and takes its new files back.
  foldersync = [](const char*) { return false; };
  EXPECT_EQ(opennumber(dir), "failed");
  foldersync = syncfolder;
  EXPECT_FALSE(std::ifstream(dir + "/results6.txt").good());
  EXPECT_FALSE(syncfolder((dir + "/missing").c_str()));
  EXPECT_TRUE(syncfolder(dir.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "cannot create a results file in " + longer +
                ": the file name is longer than 255 characters\ncannot create the results file " +
                dir +
                "/missing/results0.txt: No such file or directory\ncannot sync the data "
                "folder " +
                dir + "/missing: No such file or directory\n");
}
