// recorded: what a run left behind, read back: the settings echo and the trial records of the
// tab results file, the cells of the coordinate results file, the event log and its sidecar.
// Owns the readers of those four formats and the rule that finds the files of one run from the
// name of its tab results file. Every reader is a pure function of the file's text: it either
// fills its record or returns one line "FILE:LINE: what is wrong" (without LINE when the fault
// is the whole file's). Re-creating and drawing a trial from the records is recreate's and
// pictures'; what the tool does with a problem is the tool's.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include "run/records.h"

class maphdl;

// ---- tab results file results<N>.txt ----

// The settings that shape a trial's picture, as the settings echo gave them; a setting the
// echo does not hold keeps the program's default. A colour set of the echo with no colour left
// the program's default colour in force, as an absent one does.
struct echoedsettings {
  std::optional<int> num_x;                          // grid columns
  std::optional<int> num_y;                          // grid rows
  std::optional<int> borderwidth;                    // ring width, texels
  std::optional<float> depth_sep;                    // top layer's height above the under layer
  std::optional<std::vector<unsigned char>> tarcol;  // target colour set, RGB triples
  std::optional<std::vector<unsigned char>> discol;  // distractor colour set, RGB triples
};

// Puts the echoed settings into a map that holds the program's defaults (mapdefaults).
void applysettings(const echoedsettings& s, maphdl& m);

struct tabtrial {
  int line;           // line of the tab results file, from 1
  recordstart start;  // columns 1 to 8, written at 'g'
  bool finished;      // columns 9 to 12 were written: the trial was ended with 's'
  recordhits hits;    // columns 9 to 12; zero when not finished
};

struct tabfile {
  echoedsettings settings;       // from the lines above the header
  std::vector<tabtrial> trials;  // in the order run, numbered 1, 2, ...
};

bool readtab(const std::string& name, const std::string& text, tabfile* out, std::string* problem);

// ---- coordinate results file results_coord<N>.txt ----

struct coordtrial {
  int line;                                    // line the record starts on, from 1
  int trial;                                   // the trial's number
  bool finished;                               // the record has its cells: 's' wrote them
  std::vector<std::pair<int, int>> targets;    // column, row of each target, drawing order
  std::vector<std::pair<int, int>> distracts;  // column, row of each distractor, likewise
};

bool readcoord(const std::string& name, const std::string& text, std::vector<coordtrial>* out,
               std::string* problem);

// ---- event log results_events<N>.tsv ----

// The log's columns the replay reads: the first 35 of every log, in order.
extern const char* const log_columns[35];

struct loggedclick {
  int line;            // line of the log, from 1
  int x_px, y_px;      // window pixels, y from the top
  int col, row;        // the cell the hit test used
  std::string result;  // "target", "distractor", "empty" or "repeat"
};

struct loggedtrial {
  int trial;                          // the trial's number
  int line;                           // line of its trial_start row
  recordstart condition;              // as trial_start gave it, to match against the tab file
  int shift_x, shift_y;               // the shift direction in cells
  unsigned seed_layout, seed_cells;   // the two seeds the layout was made from
  double start_frame;                 // display frame counter at 'g'
  std::optional<double> watch_frame;  // frame counter of the first WATCH frame, when logged
  bool picked;                        // the PICK row is there (written at 's')
  std::vector<loggedclick> clicks;    // in the order made
  std::optional<double> score;        // from trial_end, when logged
};

struct loggedevents {
  std::vector<loggedtrial> trials;  // in the order of their trial_start rows
  std::vector<std::string> notes;   // what was left out and why, one line each
};

// A last line without its line end is what a kill leaves mid-write: it is left out with a
// note. Every other fault is a problem.
bool readlog(const std::string& name, const std::string& text, loggedevents* out,
             std::string* problem);

// ---- sidecar results_events<N>.json ----

struct sidecar {
  int screen_width, screen_height;           // the window once full screen, pixels
  std::optional<std::vector<int>> viewport;  // x, y, width, height of the picture, from below
};

bool readsidecar(const std::string& name, const std::string& text, sidecar* out,
                 std::string* problem);

// ---- the files of one run ----

struct runfiles {
  std::string folder;                    // where they stand, as given (may be "")
  int number;                            // the run number N
  std::string tab, coord, log, sidecar;  // full names of the four files
};

// The run's files from the name of its tab results file, which must be results<N>.txt.
bool runfilesfor(const std::string& results, runfiles* out, std::string* problem);

// A file's whole text; false with "NAME: reason" when it cannot be read.
bool slurp(const std::string& name, std::string* text, std::string* problem);

struct recordedrun {
  runfiles files;
  tabfile tab;
  std::vector<coordtrial> coord;
  loggedevents log;
  sidecar side;
};

// Reads all four files of a run and checks that they tell of the same trials.
bool readrun(const std::string& results, recordedrun* out, std::string* problem);
