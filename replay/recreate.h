// recreate: a recorded trial laid out again by the program's own reset_map, from the seeds the
// event log kept, and the check that what came out is the trial the subject saw. Reading the
// records is recorded's; drawing the trial is pictures'.
#pragma once
#include <string>
#include "replay/recorded.h"

class maphdl;

// Lays out the trial of `condition` in m as the run did at its 'g': m holds the run's settings
// (mapdefaults, then applysettings), the condition is copied in as the 'g' command copies it,
// the recorded angle is the one its pool gives, and reset_map reseeds from seed_layout and then
// seed_cells instead of the clock. Needs a current GL context, as reset_map does.
void recreate(maphdl& m, const recordstart& condition, unsigned seed_layout, unsigned seed_cells);

// "" when m's target cells and distractor cells (each in drawing order) are those of the
// coordinate record and its shift is the log's; else one line on the first difference found.
std::string differences(const maphdl& m, const coordtrial& recorded, const loggedtrial& log);

// The same for a trial whose cells were never recorded (cut short before 's'): only the shift
// can be compared.
std::string shiftdiffers(const maphdl& m, const loggedtrial& log);
