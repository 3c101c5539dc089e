// map_render: render, which draws the running trial's map for one frame of a phase and moves
// its animations on (the sway of WATCH, the slide of SHIFT, the turn of ROTATE), and
// finishshift, which sets the slide's end exactly. The lists it draws are built by reset_map;
// the phase labels, the clock and the phase changes belong to the phase loop.
#include <cmath>
#include "model/map.h"
#include "presentation/display.h"

namespace {

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
    glCallList(background_list);
    glCallList(map_list);
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

  // Flat from SHIFT on: a tenth of the layers' depth, all turned together about the centre,
  // the under layer and background moved by map_pos in the turned frame.
  glPushMatrix();
  {
    glScalef(1, 1, 0.1f);
    if (phase != 1) glRotatef(rotation, 0, 0, 1);
    topclipplanes(map_width, map_height);
    glPushMatrix();
    {
      glTranslatef(map_pos.x, map_pos.y, map_pos.z);
      glCallList(background_list);
    }
    glPopMatrix();
    glCallList(map_list);
  }
  glPopMatrix();
}

void maphdl::finishshift() {
  // The frame-rate estimate paces the slide only roughly (its first sample in SHIFT averages
  // over the idle screen), so the slide is ended where it belongs: one cell on.
  map_pos = cellstep(shift_step, map_width, map_height, num_x, num_y);
}
