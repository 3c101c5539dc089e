// standard: line reading as the settings reader depends on it (long lines in pieces, every kind
// of line end, no write past the buffer), and the two small helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/standard.h"

namespace {

FILE* filewith(const std::string& text) {
  FILE* f = tmpfile();
  fwrite(text.data(), 1, text.size(), f);
  rewind(f);
  return f;
}

// Every line better_fgets returns, in order, until it returns null.
std::vector<std::string> lines(const std::string& text, int size) {
  FILE* f = filewith(text);
  std::vector<char> buf(300, '#');
  std::vector<std::string> got;
  while (better_fgets(buf.data(), size, f)) got.push_back(buf.data());
  EXPECT_EQ(buf[size], '#');  // nothing written past size bytes
  fclose(f);
  return got;
}

TEST(BetterFgets, SplitsAtEveryLineEndAndAtTheBufferSize) {
  EXPECT_EQ(lines("a\r\nb", 255), (std::vector<std::string>{"a\r", "\n", "b"}));
  EXPECT_EQ(lines("", 255), std::vector<std::string>{});
  std::string q(300, 'q');
  EXPECT_EQ(lines(q + "\n", 255),
            (std::vector<std::string>{q.substr(0, 254), q.substr(0, 46) + "\n"}));
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

TEST(Standard, IntToCharAndFsize) {
  char* text = int_to_char(INT_MIN);
  EXPECT_STREQ(text, "-2147483648");
  delete[] text;
  FILE* f = filewith("A" + std::string(999, 'z'));
  fseek(f, 500, SEEK_SET);
  EXPECT_EQ(fsize(f), 1000);
  EXPECT_EQ(getc(f), 'A');
  fclose(f);
}

}  // namespace
