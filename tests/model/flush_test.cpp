// Pushing a results file to the disk: a write that failed is told, wherever it failed, with
// the file's name. A write into an unbuffered stream fails inside fprintf and leaves only the
// stream's error flag; a buffered one fails at the flush.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/map.h"

namespace {

// What flushresults says and answers for a stream that has had `text` written into it.
std::string flushed(FILE* f, const std::string& text, bool* ok) {
  testing::internal::CaptureStderr();  // flushes every stream: before the write
  fputs(text.c_str(), f);
  *ok = flushresults(f, "/data/results3.txt");
  fclose(f);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(Flush, AFailedWriteIsToldAtTheFlushWhetherItFailedThereOrInsideFprintf) {
  bool ok = true;
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(flushed(full, "1\t9\t12\t", &ok),
            "cannot write the results file /data/results3.txt: No space left on device\n");
  EXPECT_FALSE(ok);
  full = fopen("/dev/full", "w");
  setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_EQ(flushed(full, "1\t9\t12\t", &ok),
            "cannot write the results file /data/results3.txt: an earlier write to it failed\n");
  EXPECT_FALSE(ok);

  EXPECT_FALSE(flushresults(nullptr, "/data/results3.txt"));
}
