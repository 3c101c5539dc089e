// Pushing a results file to the disk: a write that failed is told, wherever it failed, with
// the file's name. A write into an unbuffered stream fails inside fprintf and leaves only the
// stream's error flag; a buffered one fails at the flush.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
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

  // A file that has reached its size limit: there the sync itself would succeed, so only the
  // error flag tells that the write never got through.
  char name[] = "/tmp/smflushXXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  FILE* limited = fdopen(fd, "w");
  setvbuf(limited, nullptr, _IONBF, 0);
  rlimit before;
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 4096;  // the captured standard error is a file too
  void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const std::string said = flushed(limited, std::string(5000, '1'), &ok);
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, handler);
  unlink(name);
  EXPECT_FALSE(ok);
  EXPECT_EQ(said,
            "cannot write the results file /data/results3.txt: an earlier write to it failed\n");
  EXPECT_FALSE(flushresults(nullptr, "/data/results3.txt"));
}
