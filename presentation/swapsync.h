// swapsync: asking the GL for buffer swaps synced to the display's refresh (swap interval 1)
// through whichever GLX swap-control extension the driver has, and learning what was granted.
// Measuring the frame pacing that results is the event log's; the sway of WATCH still follows
// the frame count, so its speed follows the refresh rate.
#pragma once

struct swapsync {
  const char* extension;  // the GLX extension asked through; null when the driver has none
  bool synced;            // swaps wait for the display refresh: an interval of 1 or more granted
};

// The first of GLX_EXT_swap_control, GLX_MESA_swap_control and GLX_SGI_swap_control that
// `extensions` (space-separated, may be null) names as a whole word; null when none is there.
const char* swapextension(const char* extensions);

// Asks for swap interval 1 on the current GLX context's drawable and reads back the interval
// granted where the extension can tell (SGI's cannot: its success counts as granted). Without
// a current GLX context (an EGL test context) nothing is asked and nothing is granted.
swapsync requestswapsync();
