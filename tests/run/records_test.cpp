// Byte-exact tests of the results files' header lines, trial records and the exit tally.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "run/records.h"

namespace {

// Everything `write` puts into a stream.
std::string written(const std::function<void(FILE*)>& write) {
  FILE* f = tmpfile();
  EXPECT_NE(f, nullptr);
  write(f);
  std::string out;
  rewind(f);
  for (int c; (c = fgetc(f)) != EOF;) out += static_cast<char>(c);
  fclose(f);
  return out;
}

// A value in its 13-character coordinate column.
std::string col(const std::string& v) {
  return v + std::string(v.size() < 13 ? 13 - v.size() : 0, ' ');
}

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t nl; (nl = s.find('\n', from)) != std::string::npos; from = nl + 1)
    out.push_back(s.substr(from, nl - from));
  out.push_back(s.substr(from));
  return out;
}

const std::string tail(168, ' ');

}  // namespace

TEST(Headers, TabHeaderHasTwelveNamesAndNoTrailingTab) {
  EXPECT_EQ(written(writetabheader),
            "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\t"
            "targets hit\tdistracts hit\tempty hit\ttotal hit\n");
}

TEST(Headers, CoordHeaderKeepsTheFourteenCharacterGrid) {
  std::string h = written(writecoordheader);
  ASSERT_EQ(h.size(), 252u);  // 18 * 13 + 17 characters and the newline
  EXPECT_EQ(h.substr(0, 28), col("trial") + " " + col("targets") + " ");
  EXPECT_EQ(h.substr(12 * 14, 14), col("clicks X") + " ");
  EXPECT_EQ(h.substr(17 * 14), col("distractors Y") + "\n");
}

TEST(Records, FinishedTrialGivesTheTabLineWithATabAfterEveryValue) {
  recordstart r = {1, 9, 12, 1, 0, 0, 2.0f, 90.0f};
  recordhits h = {3, 1, 0, 4};
  EXPECT_EQ(written([&](FILE* f) {
              writetabstart(f, r);
              writetabhits(f, h);
            }),
            "1\t9\t12\t1\t0\t0\t2.000000\t90.000000\t3.000000\t1.000000\t0.000000\t4.000000\t");
}

TEST(Records, CoordStartAndHitsFillTwelveColumns) {
  recordstart r = {12, 15, 9, 0, 1, 1, 2.5f, -45.0f};
  recordhits h = {0, 2, 1, 3};
  std::string s = written([&](FILE* f) {
    writecoordstart(f, r);
    writecoordhits(f, h);
  });
  EXPECT_EQ(s, col("12") + " " + col("15") + " " + col("9") + " " + col("0") + " " + col("1") +
                   " " + col("1") + " " + col("2.500000") + " " + col("-45.000000") + " " +
                   col("0.000000") + " " + col("2.000000") + " " + col("1.000000") + " " +
                   col("3.000000") + " ");
  EXPECT_EQ(s.size(), 12u * 14u);
}

TEST(Records, LongValueWidensItsColumnInsteadOfBeingCut) {
  recordstart r = {1, 9, 9, 0, 0, 0, 2.0f, 123456789.0f};
  std::string s = written([&](FILE* f) { writecoordstart(f, r); });
  EXPECT_NE(s.find("123456792.000000 "), std::string::npos);  // nearest float, all digits kept
}

TEST(CoordRows, CellsAreWrittenAsColumnAndRow) {
  generator<int> targets;
  targets.add(7);
  targets.add(12);
  generator<int> none;
  std::string s = written([&](FILE* f) { writecoordrows(f, {}, targets.head, none.head, 5); });
  std::string blank2 = col(" ") + " " + col(" ") + " ";
  std::string blankend = col(" ") + " " + col(" ") + "\n";
  EXPECT_EQ(s, blank2 + col("1") + " " + col("2") + " " + blankend + tail +  //
                   blank2 + col("2") + " " + col("2") + " " + blankend + tail);
}

TEST(CoordRows, RowCountFollowsTheLongestListAndBlanksTheUsedUpOnes) {
  std::vector<std::pair<float, float>> clicks = {{0.5f, 1.25f}, {3.0f, 4.0f}};
  generator<int> targets;
  targets.add(1);
  targets.add(23);
  targets.add(10);
  generator<int> distracts;
  distracts.add(6);
  std::string s =
      written([&](FILE* f) { writecoordrows(f, clicks, targets.head, distracts.head, 5); });
  std::vector<std::string> l = lines(s);
  ASSERT_EQ(l.size(), 4u);  // three rows; the last line holds only the 168 spaces
  EXPECT_EQ(l[0], col("0.500000") + " " + col("1.250000") + " " + col("0") + " " + col("1") + " " +
                      col("1") + " " + col("1"));
  EXPECT_EQ(l[1], tail + col("3.000000") + " " + col("4.000000") + " " + col("4") + " " + col("3") +
                      " " + col(" ") + " " + col(" "));
  EXPECT_EQ(l[2], tail + col(" ") + " " + col(" ") + " " + col("2") + " " + col("0") + " " +
                      col(" ") + " " + col(" "));
  EXPECT_EQ(l[3], tail);
}

TEST(CoordRows, ClicksAndDistractorsWithoutTargets) {
  std::vector<std::pair<float, float>> clicks = {{1, 2}};
  generator<int> none;
  generator<int> distracts;
  distracts.add(0);
  distracts.add(24);
  std::vector<std::string> l =
      lines(written([&](FILE* f) { writecoordrows(f, clicks, none.head, distracts.head, 5); }));
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0], col("1.000000") + " " + col("2.000000") + " " + col(" ") + " " + col(" ") + " " +
                      col("0") + " " + col("0"));
  EXPECT_EQ(l[1], tail + col(" ") + " " + col(" ") + " " + col(" ") + " " + col(" ") + " " +
                      col("4") + " " + col("4"));
}

TEST(CoordRows, TrialWithNoRowWritesNothing) {
  generator<int> none;
  EXPECT_EQ(written([&](FILE* f) { writecoordrows(f, {}, none.head, none.head, 5); }), "");
}

TEST(SortClicks, OrdersByColumnThenRowAndKeepsEqualPairsOnce) {
  std::vector<std::pair<float, float>> c = {{2, 1},     {0.5f, 3}, {2, 1}, {0.5f, 1},
                                            {2, 0.75f}, {0.5f, 3}, {2, 1}};
  sortclicks(&c);
  std::vector<std::pair<float, float>> want = {{0.5f, 1}, {0.5f, 3}, {2, 0.75f}, {2, 1}};
  EXPECT_EQ(c, want);
}

TEST(SortClicks, NotANumberSortsLastAndLeavesTheRestInOrder) {
  float nan = std::nanf("");
  std::vector<std::pair<float, float>> c;
  for (int i = 40; i > 0; i--) c.push_back({i % 3 ? static_cast<float>(i) : nan, 1});
  sortclicks(&c);
  ASSERT_EQ(c.size(), 40u);  // a NaN never equals anything, so none is merged away
  size_t numbers = 0;
  while (numbers < c.size() && !std::isnan(c[numbers].first)) numbers++;
  EXPECT_EQ(numbers, 27u);
  for (size_t i = 1; i < numbers; i++) EXPECT_LT(c[i - 1].first, c[i].first);
  for (size_t i = numbers; i < c.size(); i++) EXPECT_TRUE(std::isnan(c[i].first));
}

TEST(Tally, CellsCoverNineToTwentyAndNothingElse) {
  EXPECT_EQ(tallycell(9, 9), 0);
  EXPECT_EQ(tallycell(11, 14), 1);
  EXPECT_EQ(tallycell(18, 18), 15);
  EXPECT_EQ(tallycell(20, 20), 15);
  EXPECT_EQ(tallycell(12, 9), 4);
  EXPECT_EQ(tallycell(8, 12), -1);
  EXPECT_EQ(tallycell(12, 21), -1);
  EXPECT_EQ(tallycell(0, 0), -1);
  EXPECT_EQ(tallycell(3, 30), -1);
}

TEST(Tally, SixteenLinesTargetsSlowestThenAnEmptyLine) {
  int count[16] = {0};
  count[tallycell(9, 12)] += 2;
  count[tallycell(18, 18)] += 1;
  std::vector<std::string> l = lines(written([&](FILE* f) { writetally(f, count); }));
  ASSERT_EQ(l.size(), 18u);  // sixteen lines, the empty line, nothing after it
  EXPECT_EQ(l[0], "9 9: 0");
  EXPECT_EQ(l[1], "9 12: 2");
  EXPECT_EQ(l[4], "12 9: 0");
  EXPECT_EQ(l[15], "18 18: 1");
  EXPECT_EQ(l[16], "");
  EXPECT_EQ(l[17], "");
}
