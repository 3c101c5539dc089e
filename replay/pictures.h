// pictures: a re-created trial's frames drawn as the run drew them, into the off-screen context,
// and read back; and where the PICK frame put the cells and the clicks. The drawing is the
// model's render under the run's own GL state and projection; marking the frames up and writing
// them out is marks'.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class maphdl;

struct picture {
  int width = 0;                 // pixels
  int height = 0;                // pixels
  std::vector<uint32_t> pixels;  // row 0 at the top; each 0xAARRGGBB as a native word
};

// Makes the off-screen context width x height and sets it up as the run's full-screen window of
// that size: drawn as into a window (windowrows), with the run's fixed GL state, the camera's
// projection, the 16:10 viewport fitviewport gives, the current colour white (the run's labels
// leave it so). False with the reason when there is no context.
bool screenlike(int width, int height, std::string* problem);

// The first WATCH frame, drawn with the display's frame counter at `frame`, which sets the sway.
picture drawwatch(maphdl& m, double frame);

// How the PICK frame put the under layer on the picture.
struct pickview {
  double modelview[16];   // the frame the under layer is drawn in: flattened, turned, moved on
  double projection[16];  // the camera's
  int viewport[4];        // x, y from the bottom, width, height, pixels
  int height;             // the picture's, pixels
  float map_width;        // world units
  float map_height;       // world units
  int num_x;              // grid columns
  int num_y;              // grid rows

  // Picture position (x right, y down, pixels) of grid position (gx, gy) of the under layer:
  // gx columns from its left edge, gy rows from its bottom edge, as the hit test counts them.
  std::pair<double, double> place(double gx, double gy) const;
};

// The PICK frame: the slide ended one cell on and the map turned to its angle, as the end of
// SHIFT and the first WAIT frame leave them. Fills *view for that frame.
picture drawpick(maphdl& m, pickview* view);

// Where the centre of window pixel (x_px, y_px) (y from the top) of the live screen, whose
// picture stood at live_vp in a window live_height high, falls in a picture at vp in one
// `height` high: the same point of the 16:10 picture. Viewports have y from the bottom.
std::pair<double, double> clickpoint(int x_px, int y_px, const int live_vp[4], int live_height,
                                     const int vp[4], int height);
