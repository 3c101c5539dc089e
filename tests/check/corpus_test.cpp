// The settings reader and the design check on a corpus of hostile settings files, through
// spatialmemory-check itself: each file of tests/check/corpus/ must be checked within its time,
// with status 1, nothing on standard error, and its problems each on one line of plain text
// that begins with the file's name. A crash, a hang, a sanitizer's report, a problem spread over
// lines or one that quotes a whole line fails.
#include <gtest/gtest.h>

#include "tests/corpus.h"

TEST(CheckCorpus, EveryHostileSettingsFileGivesItsProblemsOneALine) {
  const std::string corpus = sourcetop() + "/tests/check/corpus/";
  size_t tried = 0;
  for (const std::string& entry : corpusfiles(corpus)) {
    SCOPED_TRACE(entry);
    const toolrun r = runtool({SM_CHECK_PROGRAM, corpus + entry}, 60);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    // The problems come first, then an empty line and the summary.
    std::istringstream out(r.out);
    size_t problems = 0;
    for (std::string line; std::getline(out, line) && !line.empty(); problems++) {
      EXPECT_EQ(line.rfind(corpus + entry + ":", 0), 0u) << line.substr(0, 200);
      EXPECT_LT(line.size(), corpus.size() + entry.size() + 300) << line.substr(0, 200);
      EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char c) {
        return c >= 0 && c < 0x20 && c != '\t';
      })) << line;
    }
    EXPECT_GT(problems, 0u);
    EXPECT_NE(r.out.find("\nSettings in force:\n"), std::string::npos);
    tried++;
  }
  EXPECT_GE(tried, 15u);
}
