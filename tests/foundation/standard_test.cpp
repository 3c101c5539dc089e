// standard: line reading as the settings reader needs it, every line end and no write past size.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/standard.h"

using list = std::vector<std::string>;

// The lines read until null, at most five: a size of 1 gives "" each time without reading.
static list lines(const std::string& text, int size) {
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::vector<char> buf(300, '#');
  list got;
  while (got.size() < 5 && better_fgets(buf.data(), size, f)) got.push_back(buf.data());
  EXPECT_EQ(buf[size], '#') << size;  // nothing written past size bytes
  fclose(f);
  return got;
}

TEST(BetterFgets, SplitsAtEveryLineEndAndAtTheBufferSize) {
  const std::string q(300, 'q');
  EXPECT_EQ(lines("a\r\nb", 255), (list{"a\r", "\n", "b"}));
  EXPECT_EQ(lines("", 255), list{});
  EXPECT_EQ(lines(q + "\n", 255), (list{q.substr(0, 254), q.substr(0, 46) + "\n"}));
  EXPECT_EQ(lines("abc\n", 0), list{});
  EXPECT_EQ(lines("abc\n", 1), list(5, ""));
}
