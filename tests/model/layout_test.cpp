// A trial's layout: candidate cells, the painted holes, rings and red discs, colour runs, the
// shift direction, the angle pool, and a pool too small for the trial.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <vector>
#include "tests/model/mapgl.h"

namespace {

std::vector<int> candidates(int num_x, int num_y) {
  generator<int> pool;
  pool.fill(0, num_x * num_y);
  thinpool(&pool, num_y);
  std::vector<int> cells;
  for (gen_node<int>* n = pool.head; n; n = n->next) cells.push_back(n->value);
  return cells;
}

const int side = map_tex_size;
const unsigned char ring[3] = {9, 8, 7};

struct images {
  std::vector<unsigned char> top = std::vector<unsigned char>(side * side * 4, 50);
  std::vector<unsigned char> under = std::vector<unsigned char>(side * side * 4, 60);
  unsigned char* at(std::vector<unsigned char>& img, int x, int y) {
    return &img[(y * side + x) * 4];
  }
};

}  // namespace

TEST(Thinning, KeepsCellsWithEvenColumnAndRowSoNoneTouch) {
  EXPECT_EQ(candidates(5, 5), (std::vector<int>{0, 2, 4, 10, 12, 14, 20, 22, 24}));
  // Five columns of two rows: columns 0, 2 and 4 on row 0, not three neighbours on the left.
  EXPECT_EQ(candidates(5, 2), (std::vector<int>{0, 4, 8}));
  EXPECT_EQ(candidates(3, 4), (std::vector<int>{0, 2, 8, 10}));
  for (int n : {9, 10}) {
    std::vector<int> cells = candidates(n, n);
    EXPECT_EQ(cells.size(), 25u) << n;
    for (int m : cells) EXPECT_TRUE(m / n % 2 == 0 && m % n % 2 == 0) << n << ": " << m;
  }
}

TEST(Painting, HolesRingsOfBorderwidthAndRedOnlyInTargetDiscs) {
  // Cell 12 of 5 x 5: disc centre (257.68, 257.68), radius 45.9 texels.
  const double cx = 257.68, cy = 257.68, radius = 45.9;
  for (int borderwidth : {2, 5}) {
    images img;
    paintitem(img.top.data(), img.under.data(), side, side, 5, 5, 12, 1, borderwidth, ring);
    int ring_texels = 0;
    for (int x = 258; x < side; x++) ring_texels += img.at(img.top, x, 258)[0] == 9;
    EXPECT_EQ(ring_texels, borderwidth + 1);
    EXPECT_EQ(img.at(img.top, 258, 258)[3], 0);  // the hole keeps its colour, loses its alpha
    EXPECT_EQ(img.at(img.top, 258, 258)[0], 50);
    EXPECT_EQ(img.at(img.top, 302, 258)[3], 50);  // the ring stays as opaque as it was
    for (int y = 0; y < side; y++)
      for (int x = 0; x < side; x++) {
        const bool inside = std::hypot(x - cx, y - cy) < radius - 0.5;
        const bool outside = std::hypot(x - cx, y - cy) > radius + 0.5;
        const unsigned char* u = img.at(img.under, x, y);
        if (inside) {
          EXPECT_TRUE(u[0] == 255 && u[1] == 60) << x << "," << y;
        }
        if (outside) {
          EXPECT_TRUE(u[0] == 60 && img.at(img.top, x, y)[3] == 50) << x << "," << y;
        }
      }
  }
  images plain;
  paintitem(plain.top.data(), nullptr, side, side, 5, 5, 12, 0, 2, ring);
  int holes = 0;
  for (size_t i = 0; i < plain.top.size(); i += 4) {
    EXPECT_EQ(plain.top[i], 50);  // no ring without borders
    holes += plain.top[i + 3] == 0;
  }
  EXPECT_NEAR(holes, M_PI * radius * radius, 100);
}

TEST(Painting, CellsBeyondTheGridStayInsideTheImage) {
  std::vector<unsigned char> guarded(side * side * 4 + 2 * 4096, 77);
  unsigned char* top = guarded.data() + 4096;
  for (int cell : {-1, -7, 24, 30, 1000}) paintitem(top, top, side, side, 5, 5, cell, 1, 2, ring);
  for (int i = 0; i < 4096; i++) {
    ASSERT_EQ(guarded[i], 77);
    ASSERT_EQ(guarded[guarded.size() - 1 - i], 77);
  }
}

TEST(ColourRuns, EvenRunsPerColourThenTheRemainderWraps) {
  struct run {
    int items, entries;
    std::vector<int> colours;
  };
  for (const run& r :
       {run{6, 3, {0, 0, 1, 1, 2, 2}}, run{5, 2, {0, 0, 1, 1, 0}}, run{2, 3, {0, 1}}}) {
    int k = 0, n = 0;
    std::vector<int> got;
    for (int i = 0; i < r.items; i++) {
      got.push_back(k);
      nextcolour(&k, &n, r.items, r.entries);
    }
    EXPECT_EQ(got, r.colours) << r.items << " with " << r.entries;
  }
}

TEST(ShiftDirection, EveryDrawEndsOnOneAxisStep) {
  std::map<std::pair<int, int>, int> ends;
  for (int x = -1; x <= 1; x++)
    for (int y = -1; y <= 1; y++) {
      vec d = correctshift(vec(x, y, 0));
      EXPECT_EQ(std::abs(d.x) + std::abs(d.y), 1) << x << "," << y;
      ends[{static_cast<int>(d.x), static_cast<int>(d.y)}]++;
    }
  EXPECT_EQ(ends, (std::map<std::pair<int, int>, int>{
                      {{-1, 0}, 3}, {{1, 0}, 2}, {{0, 1}, 2}, {{0, -1}, 2}}));
}

TEST(ResetMap, LaysOutATrialOnKeptTexturesAndLists) {
  ASSERT_TRUE(programgl(64, 40));
  maphdl m;
  laidout(m, 2, 3);
  const GLuint names[5] = {m.map_tex.texid, m.under_tex.texid, m.background_tex.texid,
                           m.background_list, m.map_list};
  m.reset_map();
  const GLuint again[5] = {m.map_tex.texid, m.under_tex.texid, m.background_tex.texid,
                           m.background_list, m.map_list};
  EXPECT_EQ(std::vector<GLuint>(names, names + 5), std::vector<GLuint>(again, again + 5));
  EXPECT_TRUE(m.shift_step.x == m.shift_dir.x && m.shift_step.y == m.shift_dir.y);
  ASSERT_EQ(m.num_tarcol, 1);
  EXPECT_EQ(m.tarcol[1], 200);

  std::set<int> free_cells = {0, 2, 4, 10, 12, 14, 20, 22, 24};
  ASSERT_EQ(m.target_cells.size, 2);
  ASSERT_EQ(m.distract_cells.size, 3);
  for (generator<int>* cells : {&m.target_cells, &m.distract_cells})
    for (gen_node<int>* n = cells->head; n; n = n->next) {
      EXPECT_EQ(free_cells.erase(n->value), 1u) << n->value;  // a free cell, used once
      const int x = static_cast<int>(465.45f * (n->value / 5) / 5 + 25.6 + 45.9);
      const int y = static_cast<int>(465.45f * (n->value % 5) / 5 + 25.6 + 45.9);
      EXPECT_EQ(m.map_tex.data[(y * side + x) * 4 + 3], 0);
      int red = 0;  // full red over the middle of a target's disc; noise's 1 in 256 elsewhere
      for (int dy = -10; dy <= 10; dy++)
        for (int dx = -10; dx <= 10; dx++)
          red += m.under_tex.data[((y + dy) * side + x + dx) * 4] == 255;
      if (cells == &m.target_cells)
        EXPECT_EQ(red, 21 * 21);
      else
        EXPECT_LT(red, 40);
    }
}

TEST(ResetMap, AnglesComeFromTheEndOfThePoolThenTheEmptyPoolIsReported) {
  ASSERT_TRUE(programgl(64, 40));
  maphdl m;
  mapdefaults(m);
  m.num_targets = 1;
  m.num_distracts = 1;
  m.wait_length = 2.5f;
  m.angle_pools[conditionkey(1, 0, 2.5f, false, 1)] = {10, 20, 30};
  m.results_file = tmpfile();
  std::vector<float> angles;
  for (int i = 0; i < 3; i++) {
    m.reset_map();
    angles.push_back(m.rotate_angle);
  }
  EXPECT_EQ(angles, (std::vector<float>{30, 20, 10}));
  m.reset_map();
  EXPECT_EQ(m.rotate_angle, 0);
  rewind(m.results_file);
  char line[128] = "";
  ASSERT_NE(fgets(line, sizeof line, m.results_file), nullptr);
  EXPECT_STREQ(line, "Trying to POP from an empty vector : 102.501\n");
}

TEST(ResetMap, APoolTooSmallPlacesWhatFitsAndSaysHowManyDidNot) {
  ASSERT_TRUE(programgl(64, 40));
  maphdl m;
  testing::internal::CaptureStdout();
  laidout(m, 12, 13);
  EXPECT_EQ(
      testing::internal::GetCapturedStdout(),
      "16 of 25 targets and distractors could not be placed: the 5 x 5 grid has room for 9\n");
  EXPECT_EQ(m.target_cells.size + m.distract_cells.size, 9);
  m.num_x = m.num_y = 10;
  testing::internal::CaptureStdout();
  m.reset_map();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(m.target_cells.size + m.distract_cells.size, 25);
}
