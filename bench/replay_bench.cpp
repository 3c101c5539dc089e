// replay_bench: what spatialmemory-replay takes for one trial of a recorded run, from reading
// the run's four files to its three PNG files, drawn at 1280 x 800 in the off-screen context.
// The run is the one the replay's tests record through the live path.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "replay/tool.h"
#include "tests/replay/replaytest.h"

namespace {

void BM_replay_one_trial_1280x800(benchmark::State& state) {
  const liverun& run = liverun::get();
  const std::string results = run.file("results0.txt");
  // The tool says what it wrote on standard output: that goes nowhere while it is timed.
  fflush(stdout);
  const int saved = dup(1), null = open("/dev/null", O_WRONLY);
  static int n = 0;  // a new folder for every run, repetitions included
  int status = 0;
  for (auto _ : state) {
    const std::string out = run.file("bench" + std::to_string(n++));
    const char* argv[] = {"spatialmemory-replay",
                          results.c_str(),
                          "--trial",
                          "1",
                          "--size",
                          "1280x800",
                          "--out",
                          out.c_str()};
    dup2(null, 1);
    status |= replaytool(8, argv);
    fflush(stdout);
    dup2(saved, 1);
  }
  close(null), close(saved);
  if (status != 0) state.SkipWithError("the replay failed");
}
BENCHMARK(BM_replay_one_trial_1280x800)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
