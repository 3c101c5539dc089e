// display: clock, frame rate, 16:10 area, labels over the map, the swap-control extension, and
// the browser's text drawn as the toolkit's.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <vector>

#include "foundation/texture.h"
#include "presentation/camera.h"
#include "presentation/display.h"
#include "presentation/glyphs.h"
#include "presentation/offscreen.h"
#include "presentation/platform.h"

static double fake_now;
static double (*const default_clock)() = display_clock;

TEST(Display, ClockCountsFromStartAndFrameRateIsSampledPerTenth) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  EXPECT_NEAR(default_clock(), t.tv_sec + t.tv_nsec * 1e-9, 0.5);  // a monotonic clock
  display_clock = [] { return fake_now; };
  displayhdl d{};
  d.fps = d.fps_time = d.fps_frames = 99;  // stale values startclock must clear
  fake_now = 5000;
  d.startclock();
  // Time, frames, estimate: none in the first tenth, one sample a tenth, the mean over a pause.
  const double steps[][3] = {{0.05, 3, 0},    {2.5, 150, 60},        {2.58, 160, 60},
                             {12.5, 450, 30}, {12.69, 460, 52.6316}, {12.71, 461, 50}};
  for (auto& s : steps) {
    fake_now = 5000 + s[0];
    d.frame_count = s[1];
    EXPECT_NEAR(d.getfps(), s[2], 1e-3) << s[0];
  }
}

TEST(Display, PictureAreaIsTheLargestCentred16By10) {
  // Window, then x, y, width and height, the short side rounded to the nearest pixel.
  const int cases[][6] = {{1280, 1024, 0, 112, 1280, 800}, {3840, 1080, 1056, 0, 1728, 1080},
                          {1, 100, 0, 49, 1, 1},           {100, 1, 49, 0, 2, 1},
                          {100, 2, 48, 0, 3, 2},           {-5, 0, 0, 0, 0, 0}};
  for (auto& c : cases) {
    int v[4];
    fitviewport(c[0], c[1], v);
    EXPECT_EQ(std::vector<int>(v, v + 4), std::vector<int>(c + 2, c + 6)) << c[0] << "x" << c[1];
  }
}

// Text over the map: white whatever colour and texture the map left (the end-to-end run finds
// the labels where they belong), and never written into the depth buffer the clicks read.
TEST(Display, TextIsWhiteOverWhatTheMapLeftAndLeavesDepthAlone) {
  const int W = 320, H = 200;
  ASSERT_TRUE(makeglcontext(W, H));
  static const std::vector<unsigned char> block(2 * 15, 0xff);             // a 9x15 glyph, all ink
  display_glyph = [](int) { glBitmap(9, 15, 0, 0, 9, 0, block.data()); };  // as the toolkit's
  cam.init();
  // Left by the map: a turned matrix, a black texture bound, depth test on and a nearer depth.
  glRotatef(30, 0, 1, 0);
  rgbatex_t black;
  gridnoise(&black, 1, 1, 1, 0);
  black.bind();
  glEnable(GL_DEPTH_TEST);
  glClearDepth(0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glColor3f(1, 0, 0);  // the raster position must take the text's colour, not this one
  display.renderstring2d("WATCH", 1, 1, 1, 0, 0.92f);
  std::vector<unsigned char> px(W * H * 4);
  glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
  int white = 0;
  for (int i = 0; i < W * H; ++i)
    white += px[4 * i] > 250 && px[4 * i + 1] > 250 && px[4 * i + 2] > 250;
  EXPECT_EQ(white, 5 * 9 * 15);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));  // back on for the map
  float depth = -1;
  glReadPixels(2, 183, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);  // inside the W
  EXPECT_EQ(depth, 0.0f);  // clicks read this buffer: text must not write into it
}

TEST(Display, SwapControlIsTheFirstKnownExtensionNamedAsAWholeWord) {
  EXPECT_EQ(swapextension(nullptr), nullptr);
  EXPECT_EQ(swapextension("GLX_EXT_swap_control_tear GLX_SGI_swap_controlx"), nullptr);
  EXPECT_STREQ(swapextension("GLX_SGI_swap_control GLX_ARB_x GLX_MESA_swap_control"),
               "GLX_MESA_swap_control");
  EXPECT_STREQ(swapextension("GLX_EXT_swap_control_tear GLX_EXT_swap_control"),
               "GLX_EXT_swap_control");
  EXPECT_EQ(requestswapsync().extension, nullptr);  // an EGL context: nothing to ask GLX
}

// freeglut's record of a bitmap font, and its 9x15 font.
struct bitmapfont {
  const char* name;
  int quantity, height;
  const GLubyte** characters;
  float xorig, yorig;
};
extern "C" bitmapfont fgFontFixed9x15;

// The browser's text: the table it draws from is the toolkit's font, and its glyph quads light
// exactly the pixels the GL's bitmaps light, wherever the text stands, in any picture size,
// over whatever the map left, and leave the GL as they found it.
TEST(Display, GlyphQuadsDrawTheToolkitsBitmapFontPixelForPixel) {
  int rows;
  float xorig, yorig;
  glyphorigin(&rows, &xorig, &yorig);
  const bitmapfont& font = fgFontFixed9x15;
  ASSERT_EQ(std::vector<float>({1.0f * rows, xorig, yorig}),
            std::vector<float>({1.0f * font.height, font.xorig, font.yorig}));
  for (int c = 0; c < 256; c++)
    ASSERT_EQ(std::vector<int>(glyphbitmap(c), glyphbitmap(c) + 1 + 2 * rows),
              std::vector<int>(font.characters[c], font.characters[c] + 1 + 2 * rows))
        << "glyph " << c << ": run scripts/make-font";
  // The toolkit's way: glBitmap of the glyph at the raster position.
  display_glyph = [](int c) {
    if (c < 1) return;
    int rows;
    float xorig, yorig;
    glyphorigin(&rows, &xorig, &yorig);
    const unsigned char* g = glyphbitmap(c);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBitmap(g[0], rows, xorig, yorig, g[0], 0, g + 1);
  };
  void (*const bitmaps)(const char*, float, float, float) = bitmaptext;
  rgbatex_t noisy;
  noise(&noisy, 4, 4);
  const char* texts[] = {"Press 'g' to start.", "points: -12.000000", "WATCH",
                         "press 's' to finish", "{|}~ @#$%^&*()_+`",  "\xe9t\xe9"};
  // Window size, then the picture inside it: x, y, width, height.
  const int pictures[][6] = {
      {1280, 800, 0, 0, 1280, 800}, {1280, 1024, 0, 112, 1280, 800}, {333, 211, 0, 1, 333, 208}};
  for (auto& p : pictures) {
    ASSERT_TRUE(makeglcontext(p[0], p[1]));
    glViewport(p[2], p[3], p[4], p[5]);
    cam.init();
    glEnable(GL_ALPHA_TEST), glAlphaFunc(GL_GEQUAL, 1.0f);
    glEnable(GL_BLEND), glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    std::vector<unsigned char> drawn[2];
    for (int way = 0; way < 2; way++) {
      bitmaptext = way ? glyphtext : bitmaps;
      glClearColor(0.1f, 0.2f, 0.3f, 1), glClear(GL_COLOR_BUFFER_BIT);
      // The program's four places, then others across the picture and beyond its edges.
      const float places[4][2] = {{0.5f, 0.5f}, {0.5f, 0.48f}, {0, 0.92f}, {0, 0.9f}};
      for (int i = 0; i < 40; i++) {
        noisy.bind();  // as the map leaves it
        glEnable(GL_DEPTH_TEST);
        const float x = i < 4 ? places[i][0] : std::fmod(i * 0.137f, 1.2f) - 0.1f;
        const float y = i < 4 ? places[i][1] : std::fmod(i * 0.291f, 1.2f) - 0.1f;
        display.renderstring2d(texts[i % 6], i % 3 ? 1 : 0.5f, 1, i % 2, x, y);
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D) && glIsEnabled(GL_DEPTH_TEST) &&
                    glIsEnabled(GL_ALPHA_TEST));
      }
      GLint bound = 0, mode = 0;
      glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound), glGetIntegerv(GL_MATRIX_MODE, &mode);
      EXPECT_TRUE(bound == static_cast<GLint>(noisy.texid) && mode == GL_MODELVIEW);
      drawn[way].resize(p[0] * p[1] * 4);
      glReadPixels(0, 0, p[0], p[1], GL_RGBA, GL_UNSIGNED_BYTE, drawn[way].data());
    }
    int differ = 0;
    for (size_t i = 0; i < drawn[0].size(); i++) differ += drawn[0][i] != drawn[1][i];
    EXPECT_EQ(differ, 0) << p[0] << "x" << p[1];
  }
  bitmaptext = bitmaps;
}
