// A trial's layout: candidate cells, painted holes, rings and red discs, colour runs, the shift
// direction, and reset_map's cells and pools.
#include <climits>

#include "tests/model/modeltest.h"

namespace {
const int side = map_tex_size;
const unsigned char ring[3] = {9, 8, 7};
const double radius = 45.9;  // of a disc on the default 5 x 5 grid, texels
// Texel of the disc centres of column or row c of the default grid.
const auto centre = [](int c) { return 465.45 * c / 5 + 25.6 + radius; };
}  // namespace

TEST(Layout, ThinningKeepsCellsWithEvenColumnAndRowSoNoneTouchAndAnyCellMayComeFirst) {
  // Each draw removes one value; over seeds every position of the pool comes out first.
  std::set<int> firsts;
  for (unsigned seed = 1; seed <= 64; seed++) {
    generator<int> pool;
    pool.fill(0, 4);
    seedrandom(seed);
    std::vector<int> drawn;
    while (pool.size > 0) drawn.push_back(pool.randnum());
    firsts.insert(drawn[0]);
    std::sort(drawn.begin(), drawn.end());
    ASSERT_EQ(drawn, (std::vector<int>{0, 1, 2, 3})) << seed;
  }
  EXPECT_EQ(firsts.size(), 4u);

  // Cells are numbered down the columns: the even rows of the even columns stay.
  for (auto [nx, ny, want] : std::vector<std::tuple<int, int, std::vector<int>>>{
           {5, 5, {0, 2, 4, 10, 12, 14, 20, 22, 24}}, {3, 4, {0, 2, 8, 10}}, {5, 2, {0, 4, 8}}}) {
    generator<int> pool;
    pool.fill(0, nx * ny);
    thinpool(&pool, ny);
    EXPECT_EQ(items(pool), want) << nx << " x " << ny;
  }
}

TEST(Layout, PaintingMakesHolesRingsOfBorderwidthAndRedOnlyInTargetDiscs) {
  // Columns, rows, borders, border width. Cell 12 is in the middle column; on the 3 x 7 grid
  // the disc takes its width from the columns, its height (and so its radius) from the rows.
  for (auto [nx, ny, borders, bw] :
       std::vector<std::array<int, 4>>{{5, 5, 1, 2}, {5, 5, 1, 5}, {5, 5, 0, 2}, {3, 7, 1, 2}}) {
    const double half_x = 0.45 * (side / nx), half_y = 0.45 * (side / ny);
    const double cx = 465.45 * (12 / ny) / nx + 25.6 + half_x;
    const double cy = 465.45 * (12 % ny) / ny + 25.6 + half_y, r = std::min(half_x, half_y);
    std::vector<unsigned char> top(side * side * 4, 50), under(side * side * 4, 60);
    paintitem(top.data(), under.data(), side, side, nx, ny, 12, borders, bw, ring);
    int rings = 0;
    for (int y = 0; y < side; y++)
      for (int x = 0; x < side; x++) {
        const unsigned char *t = &top[(y * side + x) * 4], *u = &under[(y * side + x) * 4];
        const double d = std::hypot(x - cx, y - cy);
        rings += y == std::lround(cy) && x >= cx && t[0] == 9;
        // Inside: red beneath, and either a hole that keeps its colour or an opaque ring texel.
        EXPECT_TRUE(d > r - 0.5 || (u[0] == 255 && u[1] == 60 && t[0] == (t[3] ? 9 : 50)))
            << x << "," << y;
        EXPECT_TRUE(d < r + 0.5 || (u[0] == 60 && t[0] == 50 && t[3] == 50)) << x << "," << y;
      }
    EXPECT_EQ(rings, borders ? bw + 1 : 0) << nx << " x " << ny;
  }
  // Cells beyond the grid paint nothing outside the image.
  std::vector<unsigned char> guarded(side * side * 4 + 2 * 4096, 77);
  for (int cell : {-1, -7, 24, 30, 1000})
    paintitem(&guarded[4096], &guarded[4096], side, side, 5, 5, cell, 1, 2, ring);
  for (int i = 0; i < 4096; i++) ASSERT_TRUE(guarded[i] == 77 && guarded.rbegin()[i] == 77) << i;
  // A border width wider than any disc (the settings accept any int) leaves the whole disc a
  // hole, without a ring; the sanitizer build traps the int overflow it once caused.
  std::vector<unsigned char> top(side * side * 4, 50), under(side * side * 4, 60);
  paintitem(top.data(), under.data(), side, side, 5, 5, 12, 1, INT_MAX, ring);
  EXPECT_EQ(std::count(under.begin(), under.end(), 255), std::count(top.begin(), top.end(), 0));
  EXPECT_EQ(std::count(top.begin(), top.end(), 9), 0);
}

TEST(Layout, ColourRunsAndShiftDirections) {
  // Items of a kind, colours in its set, and the colour each item takes.
  for (auto [count, entries, want] : std::vector<std::tuple<int, int, std::vector<int>>>{
           {6, 3, {0, 0, 1, 1, 2, 2}}, {5, 2, {0, 0, 1, 1, 0}}, {2, 3, {0, 1}}}) {
    int k = 0, n = 0;
    std::vector<int> got;
    for (int i = 0; i < count; i++, nextcolour(&k, &n, count, entries)) got.push_back(k);
    EXPECT_EQ(got, want) << count << " with " << entries;
  }
  // The nine draws: (0, 0) goes right, a diagonal keeps its x going left and its y going right.
  std::vector<std::pair<float, float>> ends;
  for (int x = -1; x <= 1; x++)
    for (int y = -1; y <= 1; y++) {
      const vec d = correctshift(vec(x, y, 0));
      ends.emplace_back(d.x, d.y);
    }
  EXPECT_EQ(ends,
            (std::vector<std::pair<float, float>>{
                {-1, 0}, {-1, 0}, {-1, 0}, {0, -1}, {1, 0}, {0, 1}, {0, -1}, {1, 0}, {0, 1}}));
}

using ResetMap = glmap;

// Which cells are used, and how often, the end-to-end run checks from the records.
TEST_F(ResetMap, MarksRedUnderTargetsOnlyRingsInColourRunsAndKeepsTheShiftAsDrawn) {
  m.num_distracts = 3;
  m.reset_map();
  EXPECT_TRUE(m.shift_step.x == m.shift_dir.x && m.shift_step.y == m.shift_dir.y);
  for (generator<int>* cells : {&m.target_cells, &m.distract_cells})
    for (int cell : items(*cells)) {
      const int x = static_cast<int>(centre(cell / 5)), y = static_cast<int>(centre(cell % 5));
      int red = 0;  // full red over the middle of a target's disc; noise's 1 in 256 elsewhere
      for (int dy = -10; dy <= 10; dy++)
        for (int dx = -10; dx <= 10; dx++)
          red += m.under_tex.data[((y + dy) * side + x + dx) * 4] == 255;
      EXPECT_TRUE(cells == &m.target_cells ? red == 21 * 21 : red < 40) << cell << ": " << red;
    }
  // Rings take the set's colours in runs, in drawing order: two targets, two colours.
  delete[] m.tarcol;
  m.tarcol = new unsigned char[6]{1, 1, 1, 4, 4, 4};
  m.num_tarcol = 2, m.borders = 1, m.num_distracts = 0;
  m.reset_map();
  std::vector<int> rings;  // the red byte 44 texels right of each target's centre
  for (int cell : items(m.target_cells))
    rings.push_back(m.map_tex.data[(static_cast<int>(centre(cell % 5)) * side +
                                    static_cast<int>(centre(cell / 5)) + 44) *
                                   4]);
  EXPECT_EQ(rings, (std::vector<int>{1, 4}));
}

// The angle pool is taken from its end, then reported empty; the candidate pool places what fits.
TEST_F(ResetMap, PoolsRunningOutAreReported) {
  m.wait_length = 2.5f;
  m.angle_pools[conditionkey(2, 0, 2.5f, false, 1)] = {10, 20, 30};
  m.results_file = tmpfile();
  std::vector<float> angles;
  for (int i = 0; i < 4; i++, angles.push_back(m.rotate_angle)) m.reset_map();
  EXPECT_EQ(angles, (std::vector<float>{30, 20, 10, 0}));
  char line[128] = "";
  rewind(m.results_file);
  EXPECT_STREQ(fgets(line, sizeof line, m.results_file),
               "Trying to POP from an empty vector : 202.501\n");
  for (int n : {5, 10}) {
    m.num_x = m.num_y = n;
    m.num_targets = 12;
    m.num_distracts = 13;
    testing::internal::CaptureStdout();
    m.reset_map();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              n == 10 ? ""
                      : "16 of 25 targets and distractors could not be placed: the 5 x 5 "
                        "grid has room for 9\n");
    // Targets are placed first: where cells run out, distractors go without.
    EXPECT_EQ(m.target_cells.size * 100 + m.distract_cells.size, n == 10 ? 1213 : 900);
  }
}

// The images come from a stream of their own, yet hold the shared generator's numbers after the
// layout's seed, and the shared sequence, which the cells and the shift draw from after the
// reseed, is as it was.
TEST_F(ResetMap, NoiseImagesAreTheGeneratorsAfterTheSeedAndLeaveTheSharedSequenceAlone) {
  static unsigned next_seed;
  unsigned (*saved_source)() = seedsource;
  seedsource = [] { return next_seed++; };
  m.num_targets = m.num_distracts = 0;  // nothing painted: the images are the noise alone
  for (unsigned seed : {0u, 2u, 77u, 4000000000u}) {
    next_seed = seed;
    m.reset_map();
    EXPECT_EQ(std::make_pair(m.seed_layout, m.seed_cells), std::make_pair(seed, seed + 1));
    const int after = randomnumber();
    seedrandom(seed);  // column by column, three numbers a texel, then the next image
    int differ = 0;
    for (rgbatex_t* t : {&m.map_tex, &m.under_tex, &m.background_tex})
      for (int i = 0; i < side * side * 4; i++) {
        const int at = ((i / 4 % side) * side + i / 4 / side) * 4 + i % 4;
        differ += t->data[at] != (i % 4 == 3 ? 255 : randomnumber() % 256);
      }
    EXPECT_EQ(differ, 0) << seed;
    seedrandom(seed + 1);
    for (int shift_draws = 0; shift_draws < 2; shift_draws++) randomnumber();
    EXPECT_EQ(after, randomnumber()) << seed;
  }
  seedsource = saved_source;
}
