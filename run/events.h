// events: the event log results_events<N>.tsv, the run's third record: when each phase was on
// screen and how its frames were paced, every mouse event in PICK in the order made (and any
// click or 's' that came before PICK was shown), and each trial's condition and seeds; and its
// sidecar results_events<N>.json, laid out as a BIDS events sidecar: each column described,
// the software and screen under StimulusPresentation, and the run's own facts (files, settings
// and design, participant, GL, swap control, refresh interval) under "spatialmemory".
// The row formats and the frame statistics are pure, on a FILE* and on swap times; `eventlog`
// keeps the running trial's rows in order. Opening the log under the run number is the map's;
// when rows are flushed and synced (at 'g' and 's') is the commands' business.
#pragma once
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "run/records.h"

// The log's columns, in file order. Columns are only ever added at the end, so that a reader
// that knows the first ones reads any later log.
// clang-format off
enum eventcolumn {
  ev_onset, ev_duration, ev_trial, ev_event, ev_frame,
  ev_frames, ev_set_length, ev_frame_median_ms, ev_frame_max_ms, ev_late_frames,
  ev_targets, ev_distractors, ev_borders, ev_blank, ev_instant, ev_wait_length,
  ev_rotate_angle, ev_shift_x, ev_shift_y, ev_layout_ms, ev_seed_layout, ev_seed_cells,
  ev_x_px, ev_y_px, ev_grid_x, ev_grid_y, ev_col, ev_row, ev_result, ev_rt,
  ev_targets_hit, ev_distracts_hit, ev_empty_hit, ev_total_hit, ev_score,
  ev_button, ev_action, ev_key,
  event_columns
};
// clang-format on

struct eventcolumninfo {
  const char* name;         // header name
  const char* description;  // what the column holds, for the sidecar
  const char* units;        // "s", "ms", "px", "cells", "degrees"; null when it has none
};
extern const eventcolumninfo event_column_info[event_columns];

// The summary of one phase's frames. An interval is the time between two buffer swaps; each
// frame's interval ends at the next frame's swap, the last frame's at the next phase's first.
struct phaseframes {
  int frames;        // frames shown
  double median_ms;  // median interval, ms; NaN when there was no interval to measure
  double max_ms;     // longest interval, ms; NaN likewise
  int late;          // intervals longer than 1.5 times the median
};

// Frame statistics of one phase, fed with the clock read right after each buffer swap. Needs
// no allocation once its vector has grown to the longest phase.
class framestats {
 public:
  void begin(double onset);  // the phase's first frame was swapped at `onset`, seconds
  void add(double swapped);  // a further frame of the phase was swapped
  void end(double next);     // the next phase's first frame was swapped: the last interval
  phaseframes summary();     // the phase so far; reorders the intervals, so call it once
 private:
  std::vector<double> intervals_;  // seconds between swaps, in the order seen until summary()
  double last_ = 0;                // the latest swap, seconds
  int frames_ = 0;                 // frames swapped since begin()
};

// ---- rows, each a whole line with n/a in the columns its event does not have ----

void writeeventheader(FILE* f);  // the column names, tab-separated

struct trialstartrow {
  double onset;          // clock once the layout is done, seconds
  double frame;          // display frame counter at 'g'
  recordstart record;    // the trial's number and condition as both results files have them
  int shift_x, shift_y;  // shift direction, cells
  double layout_ms;      // time the layout took, ms
  unsigned seed_layout;  // seed the layout started from
  unsigned seed_cells;   // seed the candidate pool was made with
};
void writetrialstart(FILE* f, const trialstartrow& r);

struct phaserow {
  double onset;       // clock right after the swap of the phase's first frame, seconds
  double duration;    // until the next phase's first swap (PICK: until 's'), seconds
  int trial;          // the trial's number
  int phase;          // 1 WATCH .. 5 PICK
  double frame;       // frame counter the first frame was drawn with
  phaseframes stats;  // its frames
  double set_length;  // the length the settings asked for, seconds; NaN for PICK
};
void writephaserow(FILE* f, const phaserow& r);

// The result of a click row of a button that never scores (the wheel), after checkclick's.
constexpr int click_wheel = 5;

// A mouse event in PICK (event `click`), or a mouse event or 's' in a trial before PICK was
// shown (event `early`, which has no position on the grid, result or rt); or no input at all but
// a change of the page in the browser (`page` >= 0: a pagechange, platform.h, whose row has the
// onset, trial, event and frame alone). They are written at 's' in the order they came.
struct clickrow {
  double onset;          // clock when the event reached the program, seconds
  int trial;             // the trial's number
  double frame;          // display frame counter at the event
  int x_px, y_px;        // window pixels as the toolkit gave them, y from the top
  float grid_x, grid_y;  // grid position the hit test recorded, cells; NaN: none (n/a)
  int col, row;          // column and row the hit test judged (grid position rounded down)
  int result;            // a clickresult, or click_wheel (no grid position then)
  double rt;             // seconds since PICK's onset; set at 's'
  int button;            // the toolkit's button: 0 left, 1 middle, 2 right, 3 and 4 the wheel
  bool pressed;          // a press; false for a release
  bool early = false;    // before PICK was shown: an `early` row
  char key = 0;          // an early key ('s'); 0 for a mouse event
  int page = -1;         // a pagechange, for a row of the page; -1 for input
};
void writeclickrow(FILE* f, const clickrow& r);

struct trialendrow {
  double onset;     // clock at 's', seconds
  int trial;        // the trial's number
  double frame;     // display frame counter at 's'
  recordhits hits;  // the four counts as the tab results file writes them
};
void writetrialend(FILE* f, const trialendrow& r);

// ---- the running trial's log ----

// Keeps the rows of the running trial in their order: a phase row goes out once the next
// phase's first frame has been swapped; PICK's row and the clicks wait for 's'. Every call
// takes the log's stream, and writes nothing when it is null (tools and tests without a log).
class eventlog {
 public:
  // Number of frame intervals from start-up over which the refresh interval is measured.
  static constexpr int refresh_frames = 120;

  void trialstart(FILE* f, const trialstartrow& r);
  // After every buffer swap: the phase the frame showed (0 idle .. 5 PICK), the frame counter
  // it was drawn with, the clock right after the swap, and the phase's set length (seconds;
  // read only from its first frame). True when the frame was the first of a phase 1..5.
  bool swapped(FILE* f, int phase, double frame, double now, double set_length);
  // A mouse event in PICK, or an early event; a click's rt is taken at 's', from PICK's onset.
  void click(const clickrow& c);
  // A pagechange during the trial at clock time `onset`, frame counter `frame`.
  void page(int change, double onset, double frame);
  // 's': PICK's row, the early, page and click rows in the order they came, and trial_end.
  void trialend(FILE* f, const trialendrow& r);
  // Median of the first refresh_frames frame intervals since start-up, ms; NaN until then.
  double refresh_ms() const { return refresh_ms_; }

 private:
  void closephase(FILE* f, double now, bool last_interval);
  int trial_ = 0;                 // the running trial's number
  int phase_ = 0;                 // phase whose first frame was swapped last; 0 none
  double onset_ = 0;              // its onset, seconds
  double frame_ = 0;              // the frame counter its first frame was drawn with
  double set_length_ = 0;         // its set length, seconds
  framestats stats_;              // its frames
  std::vector<clickrow> clicks_;  // the trial's early rows and PICK's clicks so far
  std::vector<double> startup_;   // frame intervals since start-up, until refresh_frames
  double last_swap_ = -1;         // the latest swap of all, seconds; -1 before the first
  double refresh_ms_ = std::numeric_limits<double>::quiet_NaN();  // see refresh_ms()
};

extern eventlog events;

// ---- the sidecar ----

struct sidecarfacts {
  std::string started;       // local start time with zone, ISO 8601
  int run_number = -1;       // N
  std::string folder;        // the data folder in full (not in the sidecar: the start-up line's)
  std::string results_file;  // the three names, without folder
  std::string coord_file;
  std::string events_file;
  std::string settings_file;    // full name of the settings file read; any bytes
  std::string settings_sha256;  // hex SHA-256 of its bytes; "" when it could not be read
  std::optional<std::string> settings_text;  // its whole text, any bytes; none when unread
  std::optional<std::string> participant;    // --participant; none when not given
  std::optional<std::string> session;        // --session, likewise
  std::vector<float> wait_lengths;           // as read, seconds, in file order
  std::vector<float> rotation_angles;        // as read, degrees, in file order
  bool shuffle_angles = false;               // the pools were shuffled at start
  std::optional<unsigned> shuffle_seed;      // the seed they were shuffled with
  // Condition key -> its angles in the order its trials will take them, as the run starts.
  std::map<std::string, std::vector<float>> angle_pools;
  std::string operating_system;  // system name, release and machine, as uname gives them
  bool pilot = false;            // a pilot run in a window
  int screen_width = 0;          // window size, pixels
  int screen_height = 0;
  int viewport[4] = {0, 0, 0, 0};  // the 16:10 picture: x, y (from the bottom), width, height
  std::string gl_vendor, gl_renderer, gl_version;  // strings from the GL
  bool swap_synced = false;                        // swaps synced to the refresh were granted
  const char* swap_control = nullptr;              // the extension asked through; null when none
  // Measured median frame interval, ms; NaN before it is known.
  double refresh_interval_ms = std::numeric_limits<double>::quiet_NaN();
  long long seed = -1;     // the run's first seed (--seed); -1 when the clock gave them
  bool page_rows = false;  // the platform reports pagechanges: their rows are among the events
};

// One JSON object, ending with a newline: every column of the log described (Description, Units,
// Levels) at the top in column order, the software and screen under StimulusPresentation, the
// run's facts under "spatialmemory". Strings are valid JSON whatever their bytes: a byte that
// is not part of valid UTF-8 is written as \u00XX, and beside settings_file and settings_text
// such a string is given exactly, percent-encoded, under <name>_bytes.
void writesidecar(FILE* f, const sidecarfacts& s);
// Writes the sidecar to a temporary file beside `name`, syncs it, renames it over `name` and
// syncs the folder, so a reader or a power cut finds either the old sidecar or the new one.
// False, after one line on standard error naming the file (or folder) and the reason, when it
// could not be saved.
bool savesidecar(const char* name, const sidecarfacts& s);

// The sidecar's name for a log name: the same with ".json" for its ".tsv".
std::string sidecarname(const char* events_name);
// Local date and time of `t` with its zone as +hh:mm, e.g. "2026-12-06T22:10:13+01:00".
std::string isolocaltime(long long t);
// A file's whole bytes; none when it cannot be read.
std::optional<std::string> readbytes(const char* name);
// Hex SHA-256 of some bytes.
std::string sha256hex(const std::string& bytes);
