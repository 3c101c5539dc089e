// What the model's tests share: a default trial laid out in an off-screen context with the
// program's fixed GL state and a clock the test turns, and a fresh data folder set as `path`.
#pragma once
#include <gtest/gtest.h>
#include <GL/glu.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>
#include "model/map.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "presentation/offscreen.h"
#include "presentation/platform.h"

template <class T>
std::vector<T> items(const generator<T>& g) {
  std::vector<T> out;
  for (gen_node<T>* n = g.head; n; n = n->next) out.push_back(n->value);
  return out;
}

inline double fake_now;  // the display clock's reading, seconds

// Two targets and two distractors on the default grid, drawn into 320 x 200 pixels after ten
// seconds of idle screen at 60 frames a second.
struct glmap : testing::Test {
  static constexpr int w = 320, h = 200;  // framebuffer, pixels
  maphdl m;                               // the map under test
  double (*saved)() = display_clock;      // the program's clock, put back afterwards

  void SetUp() override {
    ASSERT_TRUE(makeglcontext(w, h));
    for (GLenum cap : {GL_ALPHA_TEST, GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE}) glEnable(cap);
    glAlphaFunc(GL_GEQUAL, 1.0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDepthFunc(GL_LEQUAL);
    cam.init();
    display_clock = [] { return fake_now; };
    fake_now = 100;
    display.startclock();
    fake_now = 110;
    display.frame_count = 600;
    mapdefaults(m);
    m.num_targets = m.num_distracts = 2;
    m.reset_map();
  }
  void TearDown() override { display_clock = saved; }

  // Draws `frames` frames of a phase at 60 frames a second, as the phase loop paces them.
  void run(int phase, int frames = 1) {
    for (int i = 0; i < frames; i++, display.frame_count++) {
      fake_now += 1.0 / 60;
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      glLoadIdentity();
      m.render(phase);
    }
  }
  std::vector<unsigned char> pixels() {
    std::vector<unsigned char> px(w * h * 4);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
  }
};

struct tempfolder : testing::Test {
  std::string dir;  // the folder, without a trailing '/'

  void SetUp() override {
    char name[] = "/tmp/smtestXXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    snprintf(path, sizeof path, "%s", (dir = name).c_str());
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }
  std::string read(const std::string& name) const {
    std::ostringstream all;
    all << std::ifstream(dir + "/" + name, std::ios::binary).rdbuf();
    return all.str();
  }
};
