// camera: the fixed perspective projection and the viewpoint applied at the start of every frame.
// Owns the projection (set once by init) and the steering state; nothing in the experiment steers
// it, so setproj leaves the model-view matrix at the identity during a run.
#pragma once
#include "foundation/vector.h"

class camera {
 public:
  vec pos;  // scene translation applied after the rotations; the eye sits at -pos
  vec rot;  // rotation angles in degrees: x pitch, y yaw, z roll

  camera();
  void init();  // projection: glFrustum(-0.16, 0.16, -0.1, 0.1, 0.2, 999999999); model-view current
  void setproj();    // multiplies the current matrix by the viewpoint
  void move(vec d);  // moves the scene by d as seen from the eye
  void forward(float f);
  void backward(float f);
  void right(float f);
  void left(float f);
  void up(float f);
  void down(float f);
  void rotate(vec r);  // adds r to the angles; pitch is held within -80..90 degrees
};

extern camera cam;
