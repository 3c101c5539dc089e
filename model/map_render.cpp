// map_render: render, which draws the running trial's map for one frame of a phase and moves
// its animations on (the sway of WATCH, the slide of SHIFT, the turn of ROTATE), and
// finishshift, which sets the slide's end exactly. The layers' geometry is issued anew each
// frame (a few quads; the browser's GL has no display lists) from the textures reset_map made;
// the phase labels, the clock and the phase changes belong to the phase loop.
#include <cmath>
#include "model/map.h"
#include "presentation/display.h"

namespace {

// Layer sizes as multiples of the map: the under layer is 1.1 times the map; the top layer is
// enlarged by a further 1.085 and its texture coordinates run over by the same proportion, so
// texture coordinates 0..1 of both layers cover the same world span and holes sit over discs.
constexpr float under_scale = 1.1f;
constexpr float top_enlarge = 1.085f;
// The background lies just beneath the under layer.
constexpr float background_z = -0.001f;

// With `ids`, the layer's fragments take its colour of layerids (the texture environment's
// constant colour, which only the hit test's combiner reads).
void layerid(bool ids, maplayer layer) {
  if (ids) glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, layerids[layer]);
}

// One textured quad at height z, corners lower left, lower right, upper right, upper left.
void quad(float s0, float t0, float s1, float t1, float x, float y, float z) {
  glBegin(GL_QUADS);
  glTexCoord2f(s0, t0);
  glVertex3f(-x, -y, z);
  glTexCoord2f(s1, t0);
  glVertex3f(x, -y, z);
  glTexCoord2f(s1, t1);
  glVertex3f(x, y, z);
  glTexCoord2f(s0, t1);
  glVertex3f(-x, y, z);
  glEnd();
}

// Animations are paced by the frame rate, so a phase moves as far on a slow display as on a
// fast one. Until there is an estimate (0) a frame makes no step rather than an infinite one.
bool framerate(double* fps) {
  *fps = display.getfps();
  return *fps > 0;
}

}  // namespace

void maphdl::render(int phase) {
  // The map lies one unit in front of the eye; left in the matrix for checkclick.
  glTranslatef(0, 0, -1);
  if (phase < 0 || phase > 4) return;

  if (phase == 0) {
    // The map's normal circles once every 2 pi * 25 frames, carried on from trial to trial.
    const float f = static_cast<float>(display.frame_count);
    const float u = static_cast<float>(f / 25.0);
    glRotatef(10 * sinf(u), 1, 0, 0);
    glRotatef(10 * cosf(u), 0, 1, 0);
    topclipplanes(map_width, map_height);
    drawunder(false);
    drawtop(false);
    return;
  }

  if (phase == 1) {
    if (instant_shift) {
      map_pos += cellstep(shift_dir, map_width, map_height, num_x, num_y);
      shift_dir = vec();
    } else {
      double fps;
      if (framerate(&fps))
        map_pos += cellstep(shift_dir, map_width, map_height, num_x, num_y) /
                   static_cast<float>(shift_length * fps);
    }
  } else if (phase == 2) {
    double fps;
    if (framerate(&fps))
      rotation = static_cast<float>(rotation + rotate_angle / (rotate_length * fps));
  } else if (phase == 3) {
    rotation = rotate_angle;
    if (blank_wait != 0) return;
  }

  drawflat(phase != 1, false);
}

void maphdl::drawflat(bool turned, bool ids) {
  // Flat from SHIFT on: a tenth of the layers' depth, all turned together about the centre,
  // the under layer and background moved by map_pos in the turned frame.
  glPushMatrix();
  {
    glScalef(1, 1, flat_depth);
    if (turned) glRotatef(rotation, 0, 0, 1);
    topclipplanes(map_width, map_height);
    glPushMatrix();
    {
      glTranslatef(map_pos.x, map_pos.y, map_pos.z);
      drawunder(ids);
    }
    glPopMatrix();
    drawtop(ids);
  }
  glPopMatrix();
}

void maphdl::finishshift() {
  // The frame-rate estimate paces the slide only roughly (its first sample in SHIFT averages
  // over the idle screen), so the slide is ended where it belongs: one cell on.
  map_pos = cellstep(shift_step, map_width, map_height, num_x, num_y);
}

void maphdl::drawunder(bool ids) {
  const float l = map_width, d = map_height, s = surround_scale;
  background_tex.bind();
  layerid(ids, layer_background);
  quad(0, 0, static_cast<float>(s / 1.1), static_cast<float>(s / 1.1), s * l / 2, s * d / 2,
       background_z);
  // The under layer can reach beyond the top layer once shifted; render sets clip planes at
  // the top layer's edges, so only the background shows there.
  for (int i = 0; i < 4; i++) glEnable(GL_CLIP_PLANE0 + i);
  under_tex.bind();
  layerid(ids, layer_under);
  quad(0, 0, 1, 1, under_scale * l / 2, under_scale * d / 2, 0);
  for (int i = 0; i < 4; i++) glDisable(GL_CLIP_PLANE0 + i);
}

void maphdl::drawtop(bool ids) {
  const float margin = (top_enlarge - 1) / 2;
  map_tex.bind();
  layerid(ids, layer_top);
  quad(-margin, -margin, 1 + margin, 1 + margin, under_scale * top_enlarge * map_width / 2,
       under_scale * top_enlarge * map_height / 2, depth_sep);
}

void topclipplanes(float map_width, float map_height) {
  const double hx = under_scale * top_enlarge * map_width / 2;
  const double hy = under_scale * top_enlarge * map_height / 2;
  const double planes[4][4] = {{1, 0, 0, hx}, {-1, 0, 0, hx}, {0, 1, 0, hy}, {0, -1, 0, hy}};
  for (int i = 0; i < 4; i++) glClipPlane(GL_CLIP_PLANE0 + i, planes[i]);
}

const float layerids[4][4] = {{0, 0, 0, 0}, {0, 0, 1, 1}, {0, 1, 0, 1}, {1, 0, 0, 1}};

float layerheight(maplayer layer, float depth_sep, vec map_pos) {
  switch (layer) {
    case layer_background:
      return flat_depth * (map_pos.z + background_z);
    case layer_under:
      return flat_depth * map_pos.z;
    case layer_top:
      return flat_depth * depth_sep;
    default:
      return 0;
  }
}
