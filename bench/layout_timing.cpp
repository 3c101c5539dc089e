// layout_timing: how long the layout of a default trial takes in the browser's build, run by
// node (build-web/web/spatialmemory-layout-timing.js): the layout's own work (the three noise
// images, the candidate cells, the painting, the shift and the angle) and the mip levels made
// from the images, everything reset_map does short of the GL's calls. A benchmark, not a test:
// it prints the median and the fastest of 30 layouts, in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "model/map.h"

namespace {

double now_ms() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The mip levels of one image, as the upload makes them.
void miplevels(const rgbatex_t& t, std::vector<unsigned char> buffers[2]) {
  const unsigned char* above = t.data;
  for (int w = t.width, h = t.height, level = 1; w > 1 || h > 1; level++) {
    std::vector<unsigned char>& below = buffers[level % 2];
    below.resize(static_cast<size_t>(std::max(1, w / 2)) * std::max(1, h / 2) * 4);
    halveimage(above, w, h, 4, below.data());
    above = below.data();
    w = std::max(1, w / 2), h = std::max(1, h / 2);
  }
}

}  // namespace

int main() {
  static unsigned seed = 1000;
  seedsource = [] { return seed++; };
  // The default 5 x 5 grid with two targets and two distractors, as the desktop's benchmark
  // (map_bench.cpp) lays it out.
  maphdl m;
  mapdefaults(m);
  m.num_targets = m.num_distracts = 2;
  m.angle_pools[conditionkey(m.num_targets, 0, 2.0f, false, 1)].assign(100, 90.0f);
  std::vector<double> total, layout;
  std::vector<unsigned char> buffers[2];
  for (int i = 0; i < 31; i++) {
    const double t0 = now_ms();
    m.layout();
    const double t1 = now_ms();
    for (rgbatex_t* t : {&m.map_tex, &m.under_tex, &m.background_tex}) miplevels(*t, buffers);
    const double t2 = now_ms();
    if (i == 0) continue;  // the first one also allocates the images
    layout.push_back(t1 - t0);
    total.push_back(t2 - t0);
  }
  std::sort(total.begin(), total.end());
  std::sort(layout.begin(), layout.end());
  printf("layout of a default trial (%d x %d, %d targets, %d distractors), 30 runs:\n", m.num_x,
         m.num_y, m.num_targets, m.num_distracts);
  printf("  with mip levels: median %.1f ms, fastest %.1f ms\n", total[15], total[0]);
  printf("  layout alone:    median %.1f ms, fastest %.1f ms\n", layout[15], layout[0]);
  return 0;
}
