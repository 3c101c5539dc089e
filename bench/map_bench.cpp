// map_bench: the pause between the subject's 'g' and the first WATCH frame (laying out a
// default 5 x 5 trial), and the cost of drawing one PICK frame full screen. Both run in an
// off-screen context with the program's own GL state and projection.
#include <benchmark/benchmark.h>
#include <GL/gl.h>
#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "run/run.h"
#include "presentation/offscreen.h"

namespace {

bool programgl(int width, int height) {
  if (!makeglcontext(width, height)) return false;
  cam.init();
  fixglstate();
  display.startclock();
  return true;
}

// A default trial whose condition never runs out of angles, however many iterations run.
void trial(maphdl& m) {
  mapdefaults(m);
  m.num_targets = 2;
  m.num_distracts = 2;
  m.angle_pools[conditionkey(2, 0, 2.0f, false, 1)].assign(1000000, 45.0f);
}

void BM_reset_map_default_5x5(benchmark::State& state) {
  if (!programgl(1280, 800)) {
    state.SkipWithError("no GL context");
    return;
  }
  maphdl m;
  trial(m);
  for (auto _ : state) {
    m.reset_map();
    glFinish();  // the uploads are done when the first frame can use them
  }
}
BENCHMARK(BM_reset_map_default_5x5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

void BM_pick_frame_1280x1024(benchmark::State& state) {
  if (!programgl(1280, 1024)) {
    state.SkipWithError("no GL context");
    return;
  }
  maphdl m;
  trial(m);
  m.reset_map();
  m.finishshift();
  m.rotation = m.rotate_angle;
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    cam.setproj();
    m.render(4);
    glFinish();
  }
}
BENCHMARK(BM_pick_frame_1280x1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
