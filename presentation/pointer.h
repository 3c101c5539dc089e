// pointer: the platform layer that moves the system pointer.
// After movepointer(x, y) the pointer stands at (x, y) in screen pixels from the top-left corner
// and further mouse motion moves it on from there. The default goes through the toolkit's
// pointer warp; tests install a recorder of their own.
#pragma once

extern void (*movepointer)(float x, float y);
