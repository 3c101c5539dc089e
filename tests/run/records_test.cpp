// Byte-exact tests of the header lines, the coordinate rows, the click order and the tally.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "run/records.h"

namespace {

std::string written(const std::function<void(FILE*)>& write) {
  FILE* f = tmpfile();
  write(f);
  std::string out;
  rewind(f);
  for (int c; (c = fgetc(f)) != EOF;) out += static_cast<char>(c);
  fclose(f);
  return out;
}

// A value in its 13-character coordinate column and the space after it.
std::string col(const std::string& v) {
  return v + std::string(13 - v.size(), ' ') + " ";
}
const std::string blank2 = col(" ") + col(" ");
const std::string tail(168, ' ');

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t nl; (nl = s.find('\n', from)) != std::string::npos; from = nl + 1)
    out.push_back(s.substr(from, nl - from));
  out.push_back(s.substr(from));
  return out;
}

}  // namespace

TEST(Headers, TabHeaderHasNoTrailingTabAndCoordHeaderKeepsTheGrid) {
  EXPECT_EQ(written(writetabheader),
            "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\t"
            "targets hit\tdistracts hit\tempty hit\ttotal hit\n");
  std::string h = written(writecoordheader);
  ASSERT_EQ(h.size(), 252u);  // 18 * 13 + 17 characters and the newline
  EXPECT_EQ(h.substr(0, 28), col("trial") + col("targets"));
  EXPECT_EQ(h.substr(12 * 14, 14), col("clicks X"));
  EXPECT_EQ(h.substr(17 * 14), "distractors Y\n");
}

TEST(CoordRows, CellsAreWrittenAsColumnAndRowUnderTheirHeaders) {
  generator<int> targets;
  targets.add(7);
  targets.add(12);
  generator<int> none;
  std::string end = std::string(13, ' ') + " " + std::string(13, ' ') + "\n";
  EXPECT_EQ(written([&](FILE* f) { writecoordrows(f, {}, targets.head, none.head, 5); }),
            blank2 + col("1") + col("2") + end + tail + blank2 + col("2") + col("2") + end + tail);
}

TEST(CoordRows, RowCountFollowsTheLongestListAndBlanksTheUsedUpOnes) {
  std::vector<std::pair<float, float>> clicks = {{0.5f, 1.25f}, {3.0f, 4.0f}};
  generator<int> targets;
  targets.add(1);
  targets.add(23);
  targets.add(10);
  generator<int> distracts;
  distracts.add(6);
  std::vector<std::string> l =
      lines(written([&](FILE* f) { writecoordrows(f, clicks, targets.head, distracts.head, 5); }));
  ASSERT_EQ(l.size(), 4u);  // three rows; the last line holds only the 168 spaces
  EXPECT_EQ(l[0] + " ",
            col("0.500000") + col("1.250000") + col("0") + col("1") + col("1") + col("1"));
  EXPECT_EQ(l[1] + " ", tail + col("3.000000") + col("4.000000") + col("4") + col("3") + blank2);
  EXPECT_EQ(l[2] + " ", tail + blank2 + col("2") + col("0") + blank2);
  EXPECT_EQ(l[3], tail);
  generator<int> none;
  EXPECT_EQ(written([&](FILE* f) { writecoordrows(f, {}, none.head, none.head, 5); }), "");
  l = lines(written([&](FILE* f) { writecoordrows(f, {}, none.head, distracts.head, 5); }));
  EXPECT_EQ(l[0] + " ", blank2 + blank2 + col("1") + col("1"));
}

TEST(SortClicks, OrdersByColumnThenRowAndKeepsEqualPairsOnce) {
  std::vector<std::pair<float, float>> c = {{2, 1},     {0.5f, 3}, {2, 1}, {0.5f, 1},
                                            {2, 0.75f}, {0.5f, 3}, {2, 1}};
  sortclicks(&c);
  std::vector<std::pair<float, float>> want = {{0.5f, 1}, {0.5f, 3}, {2, 0.75f}, {2, 1}};
  EXPECT_EQ(c, want);
}

TEST(SortClicks, NotANumberSortsLastAndLeavesTheRestInOrder) {
  std::vector<std::pair<float, float>> c;
  for (int i = 40; i > 0; i--) c.push_back({i % 3 ? static_cast<float>(i) : std::nanf(""), 1});
  sortclicks(&c);
  ASSERT_EQ(c.size(), 40u);  // a NaN never equals anything, so none is merged away
  for (size_t i = 0; i < c.size(); i++) EXPECT_EQ(std::isnan(c[i].first), i >= 27) << i;
  for (size_t i = 1; i < 27; i++) EXPECT_LT(c[i - 1].first, c[i].first);
}

TEST(Tally, CellsCoverNineToTwentyAndTheLinesGoTargetsSlowest) {
  EXPECT_EQ(tallycell(11, 14), 1);
  EXPECT_EQ(tallycell(20, 20), 15);
  EXPECT_EQ(tallycell(12, 9), 4);
  EXPECT_EQ(tallycell(8, 12), -1);
  EXPECT_EQ(tallycell(12, 21), -1);
  int count[16] = {0};
  count[1] = 2, count[15] = 1;
  std::vector<std::string> l = lines(written([&](FILE* f) { writetally(f, count); }));
  ASSERT_EQ(l.size(), 18u);  // sixteen lines, the empty line, nothing after it
  EXPECT_EQ(l[0], "9 9: 0");
  EXPECT_EQ(l[1], "9 12: 2");
  EXPECT_EQ(l[4], "12 9: 0");
  EXPECT_EQ(l[15], "18 18: 1");
  EXPECT_EQ(l[16] + l[17], "");
}
