// standard: line reading as the settings reader depends on it (pieces of long lines, every
// kind of line end, no overrun of the buffer), and the two small helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/standard.h"

namespace {

FILE* filewith(const std::string& text) {
  FILE* f = tmpfile();
  fwrite(text.data(), 1, text.size(), f);
  rewind(f);
  return f;
}

TEST(BetterFgets, SizesBelowTwoReadNothing) {
  FILE* f = filewith("abc\n");
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(better_fgets(buf, 0, f), nullptr);
  EXPECT_EQ(better_fgets(buf, -5, f), nullptr);
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(better_fgets(buf, 1, f), buf);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(ftell(f), 0);
  fclose(f);
}

TEST(BetterFgets, LongLinesComeInPiecesWithinTheBuffer) {
  FILE* f = filewith(std::string(300, 'q') + "\n");
  char buf[256];
  memset(buf, '#', sizeof buf);
  ASSERT_EQ(better_fgets(buf, 255, f), buf);
  EXPECT_EQ(std::string(buf), std::string(254, 'q'));
  EXPECT_EQ(buf[255], '#');  // nothing written past size bytes
  ASSERT_EQ(better_fgets(buf, 255, f), buf);
  EXPECT_EQ(std::string(buf), std::string(46, 'q') + "\n");
  EXPECT_EQ(better_fgets(buf, 255, f), nullptr);
  fclose(f);
}

TEST(BetterFgets, EveryLineEndEndsALineAndKeepsIt) {
  FILE* f = filewith("a\r\nb");
  char buf[255];
  ASSERT_NE(better_fgets(buf, 255, f), nullptr);
  EXPECT_STREQ(buf, "a\r");
  ASSERT_NE(better_fgets(buf, 255, f), nullptr);
  EXPECT_STREQ(buf, "\n");
  ASSERT_NE(better_fgets(buf, 255, f), nullptr);
  EXPECT_STREQ(buf, "b");  // the last line needs no line end
  EXPECT_EQ(better_fgets(buf, 255, f), nullptr);
  fclose(f);

  FILE* empty = filewith("");
  EXPECT_EQ(better_fgets(buf, 255, empty), nullptr);
  fclose(empty);
}

TEST(Standard, IntToCharAndFsize) {
  for (int v : {INT_MIN, INT_MAX, 0, -7}) {
    char* text = int_to_char(v);
    EXPECT_EQ(std::string(text), std::to_string(v));
    delete[] text;
  }
  std::string body(1000, 'z');
  body[0] = 'A';
  FILE* f = filewith(body);
  fseek(f, 500, SEEK_SET);
  EXPECT_EQ(fsize(f), 1000);
  EXPECT_EQ(getc(f), 'A');
  fclose(f);
}

}  // namespace
