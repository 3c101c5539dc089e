// recorded: what a run left behind, read back: the settings echo and the trial records of the
// tab results file, the records of the coordinate results file, the event log and its sidecar.
// Owns the readers of those four formats, the rule that finds the files of one run from the
// name of its tab results file, and the checks that the four tell of one run. Every reader is
// a pure function of the file's text: it either fills its record or returns one line
// "FILE:LINE: what is wrong" (without LINE when the fault is the whole file's), quoting at most
// a few dozen characters of what it read. A number is the whole of its field (no blank, NUL or
// other character after it) and lies in the range the program writes. Re-creating and drawing
// a trial from the records is recreate's and pictures'; what the tool does with a problem is
// the tool's.
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
// the program's default colour in force, as an absent one does. The grid is 1 to 512 cells a
// side, as the program's settings reader holds it.
struct echoedsettings {
  std::optional<int> num_x;                          // grid columns
  std::optional<int> num_y;                          // grid rows
  std::optional<int> borderwidth;                    // ring width, texels
  std::optional<float> depth_sep;                    // top layer's height above the under layer
  std::optional<std::vector<unsigned char>> tarcol;  // target colour set, RGB triples
  std::optional<std::vector<unsigned char>> discol;  // distractor colour set, RGB triples
};

// The widest grid the program lays out, cells a side.
constexpr int max_grid = 512;

// Puts the echoed settings into a map that holds the program's defaults (mapdefaults). A ring
// wider than any cell draws as none at all, so the ring width is held to +-max_ring, which
// draws the same and keeps the layout's arithmetic in range.
constexpr int max_ring = 1000000;
void applysettings(const echoedsettings& s, maphdl& m);

// Columns 2 to 8 of a trial line: borders, blank and instant 0 or 1, as the program writes.
struct tabtrial {
  int line;           // line of the tab results file, from 1
  recordstart start;  // columns 1 to 8, written at 'g'
  bool finished;      // columns 9 to 12 were written: the trial was ended with 's'
  recordhits hits;    // columns 9 to 12; zero when not finished
};

struct tabfile {
  echoedsettings settings;         // from the lines above the header
  std::vector<tabtrial> trials;    // in the order run, numbered 1, 2, ...
  std::vector<std::string> notes;  // what was left out and why, one line each
};

// A last line without its line end is what a kill or a full disk leaves mid-write: one of 8
// values is a trial begun; one that does not read is left out with a note. Every other fault
// is a problem.
bool readtab(const std::string& name, const std::string& text, tabfile* out, std::string* problem);

// ---- coordinate results file results_coord<N>.txt ----

struct coordtrial {
  int line;           // line the record starts on, from 1
  int trial;          // the trial's number
  recordstart start;  // columns 1 to 8, as the tab file's
  bool finished;      // the record has its cells: 's' wrote them
  bool cut;         // the file ends inside the record, cut short mid-write: not finished, no cells
  recordhits hits;  // columns 9 to 12; zero when not finished
  std::vector<std::pair<double, double>> clicks;  // clicks X, Y: sorted, each spot once
  std::vector<std::pair<int, int>> targets;       // column, row of each target, drawing order
  std::vector<std::pair<int, int>> distracts;     // column, row of each distractor, likewise
};

// A last line without its line end that does not read (a full disk stops the run mid-row)
// leaves its record cut; every other fault is a problem.
bool readcoord(const std::string& name, const std::string& text, std::vector<coordtrial>* out,
               std::string* problem);

// ---- event log results_events<N>.tsv ----

// The log's columns the replay reads: the first 35 of every log, in order. Later logs add
// button, action and key after them; those are read past.
extern const char* const log_columns[35];

// A click of the click list: a press or release of a mouse button in PICK. Rows that are not
// in the list are left out: a turn of the wheel (result "wheel") and input that came before
// PICK was on screen (event "early").
struct loggedclick {
  int line;               // line of the log, from 1
  int x_px, y_px;         // window pixels, y from the top
  double grid_x, grid_y;  // grid position the hit test recorded, cells; NaN when it had none
  int col, row;           // the cell the hit test used
  std::string result;     // "target", "distractor", "empty", "repeat" or "off_grid"
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

// Frame counters are whole numbers from 0 below this (exact in a double).
constexpr double max_frame = 9007199254740992.0;

struct loggedevents {
  std::vector<loggedtrial> trials;  // in the order of their trial_start rows
  std::vector<std::string> notes;   // what was left out and why, one line each
};

// A last line without its line end is what a kill leaves mid-write: it is left out with a
// note. Every other fault is a problem.
bool readlog(const std::string& name, const std::string& text, loggedevents* out,
             std::string* problem);

// ---- sidecar results_events<N>.json ----

// The largest screen side the replay draws, pixels (as --size allows).
constexpr int max_screen = 16384;

// The run's facts stand under "spatialmemory" in the sidecars of version 1.2.0 on, at the top
// level before; both are read. A string may hold bytes that are not UTF-8 (a folder named in
// Latin-1): later writers escape them as \u00XX, earlier ones wrote them raw, and both read.
struct sidecar {
  int screen_width, screen_height;           // the window once full screen, 1 to max_screen
  std::optional<std::vector<int>> viewport;  // x, y, width, height of the picture, from below;
                                             // within the screen
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
  std::vector<size_t> logged;      // for each trial of the tab file, its place in log.trials
  std::vector<std::string> notes;  // what the files lacked, one line each, in file order
};

// Reads all four files of a run and checks that they tell of the same trials: the coordinate
// file's records have the tab file's conditions and hits, the log's trial_start rows the tab
// file's conditions, and a trial the log ended with its trial_end row has the clicks of the
// coordinate record (its click list: every click row but the wheel's, each spot once). Files
// cut short mid-write keep every trial they hold in full: a trial begun in the log or the
// coordinate file whose tab line was cut is left out, and a coordinate record cut short makes
// its trial one cut short.
bool readrun(const std::string& results, recordedrun* out, std::string* problem);
