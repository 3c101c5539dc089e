// map: the experiment model, one global `map` of class maphdl.
// Owns the settings, the trial pool and the angle pools, the layout of the trial now running
// (cells, textures, shift and rotation), its clicks, and the run's three files
// (both results files and the event log, whose rows the run writes).
// Its sources are split by concern:
//   map_state.cpp    construction, init, destruction, the global `map` and `path`
//   map_results.cpp  choosing the run number and opening the run's three files
//   map_settings.cpp loadsettings: reading settings.txt
//   map_trials.cpp   building the trial set and the angle pools from the set lines
//   map_layout.cpp   reset_map: cells, painting, textures, shift, angle
//   map_render.cpp   render: drawing each phase, and the layers' geometry
//   map_hittest.cpp  checkclick: from a click in the window to a cell
// The window-free pieces of each concern are declared below the class, so tests and
// spatialmemory-check use them without a GL context.
#pragma once
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>
#include <GL/gl.h>
#include "foundation/texture.h"
#include "foundation/vector.h"
#include "model/generator.h"
#include "model/trial.h"

// The data folder: holds settings.txt and the results files, without a trailing '/'.
// Set once by the entry point from the program's own path.
extern char path[256];

// The layers of the map as the hit test tells them apart; layer_none where none is drawn.
enum maplayer { layer_none, layer_background, layer_under, layer_top };

class maphdl {
 public:
  FILE* results_file;          // tab results file results<N>.txt
  FILE* coord_file;            // coordinate results file results_coord<N>.txt
  FILE* events_file;           // event log results_events<N>.tsv
  int run_number;              // N, the run number the three files share; -1 until opened
  float wait_lengths[100];     // settings list wait_lengths, seconds, in file order
  int num_wait_lengths;        // entries of wait_lengths in use
  float rotation_angles[100];  // settings list rotation_angles, degrees, in file order
  int num_rotation_angles;     // entries of rotation_angles in use
  float wait_length;           // running trial: WAIT length, seconds
  float watch_length;          // WATCH length, seconds
  float shift_length;          // SHIFT length, seconds
  float rotate_length;         // ROTATE length, seconds
  bool instant_shift;          // running trial: the shift is applied at once
  int trial_count;             // trials started; the running trial's number
  std::map<std::string, std::vector<float>> angle_pools;  // condition key -> angles not yet used
  generator<trial*> trials;                               // trial records not yet run
  int num_targets_min;       // setting num_targets, first number (only echoed)
  int num_targets_max;       // setting num_targets, second number (only echoed)
  int num_distracts_min;     // setting num_distracts, first number (only echoed)
  int num_distracts_max;     // setting num_distracts, second number (only echoed)
  int num_trials_per_set;    // trials built for each target/distractor set line
  int num_instant_shifts;    // trials per set with an instant shift
  int num_with_borders;      // trials per set with borders
  int num_blank_wait;        // trials per set with a blank WAIT
  float map_width;           // map width, world units
  float map_height;          // map height, world units
  float depth_sep;           // height of the top layer above the under layer, world units
  int num_x;                 // grid columns
  int num_y;                 // grid rows
  int num_targets;           // running trial: target cells
  int num_distracts;         // running trial: distractor cells
  int borderwidth;           // cell border width, texels
  unsigned char* discol;     // distractor colour set: num_discol RGB triples, owned
  unsigned char* tarcol;     // target colour set: num_tarcol RGB triples, owned
  int num_discol;            // entries in discol
  int num_tarcol;            // entries in tarcol
  int borders;               // running trial: 1 when cells have coloured rings
  int blank_wait;            // running trial: 1 when WAIT shows nothing
  float surround_scale;      // background quad size, multiple of the map size
  rgbatex_t under_tex;       // layer beneath the map: noise, full red in target discs
  rgbatex_t map_tex;         // top layer: noise with holes (and rings) at the cells
  rgbatex_t background_tex;  // background quad, repeated noise
  vec map_pos;               // offset of background and under layer from the top layer, world units
  vec shift_dir;             // the trial's shift in cells: one of (+-1, 0), (0, +-1)
  float rotation;            // the map's current rotation, degrees
  float rotate_angle;        // running trial: rotation reached in ROTATE, degrees
  generator<int> clicked_cells;                 // cells clicked in the running trial, each once
  generator<int> target_cells;                  // cells holding a target, in drawing order
  generator<int> distract_cells;                // cells holding a distractor, in drawing order
  std::vector<std::pair<float, float>> clicks;  // grid position of every click, repeats included
  char results_name[256];                       // full name of results_file, for messages about it
  char coord_name[256];                         // full name of coord_file, for messages about it
  char events_name[256];                        // full name of events_file, for messages about it
  vec shift_step;         // the trial shift as drawn, in cells; instant shift zeroes shift_dir only
  unsigned seed_layout;   // running trial: the seed reset_map started from (noise images)
  unsigned seed_cells;    // running trial: the seed the candidate pool was made with (cells, shift)
  int click_column;       // column the latest click was judged by (grid position rounded down)
  int click_row;          // row the latest click was judged by, likewise
  bool shuffle_angles;    // setting shuffle_angles: each angle pool is shuffled once at start
  unsigned shuffle_seed;  // the seed the pools were shuffled with (when shuffle_angles)

  maphdl();
  ~maphdl();
  maphdl(const maphdl&) = delete;
  maphdl& operator=(const maphdl&) = delete;

  // Defaults, and the run's three files opened in `path` under the first free run number.
  // False when one cannot be created; the reason is then on standard error.
  bool init();
  // Reads `path`/name, echoing into results_file; then, with shuffle_angles, shuffles the angle
  // pools once from a fresh seed (shuffle_seed).
  void loadsettings(const char* name);
  void reset_map();  // lays out the running trial (needs a GL context)
  void layout();     // reset_map short of handing the images to the GL: cells, images, shift, angle
  void render(int phase);  // draws phase 0 WATCH .. 4 PICK (needs a GL context)
  // The layers in the map's frame: the background and the under layer, then the top layer;
  // with `ids` each in its colour of layerids (for the hit test's pass), else as textured.
  void drawunder(bool ids);
  void drawtop(bool ids);
  // The flat picture of SHIFT (turned false) and of ROTATE, WAIT and PICK (turned true).
  void drawflat(bool turned, bool ids);
  void finishshift();  // at the end of SHIFT: the under layer stands exactly one cell on
  int checkclick(double x, double y);  // a clickresult
  // Without the depth buffer: the layer the PICK picture shows nearest at window pixel
  // (px, py), y from the bottom, with the GL's matrices and viewport as the last frame left them;
  // and the depth the depth buffer would hold for the click at (x, y) there.
  maplayer layerat(int px, int py);
  float pickdepth(double x, double y, int px, int py, const double modelview[16],
                  const double projection[16], const int viewport[4]);

  // Builds num_trials_per_set trials for one set line and their angle pools; wait_pos is the
  // block's wait-length position, carried from set line to set line.
  void addtrialset(int targets, int distracts, int* wait_pos);
};

extern maphdl map;

// What checkclick makes of a click. Off the grid: the click's column or row (its grid position
// rounded down) lies outside the grid; it is recorded in `clicks` but names no cell.
enum clickresult { click_target, click_distractor, click_empty, click_repeat, click_off_grid };

// ---- results files (map_results.cpp) ----

// The files of a run, by their index in openresults' arrays.
enum { tab_results, coord_results, events_log, run_files };

// Creates results<N>.txt, results_coord<N>.txt and results_events<N>.tsv in `folder` under the
// smallest N for which none of those three names nor the log's sidecar results_events<N>.json
// exists, sets *number to N and syncs the folder, so the new entries survive a power cut. Each
// file is created exclusively, so an existing file is never emptied, even by a second run
// starting in the same second. The full names go to names. On failure: one line on standard
// error naming the file (or folder) and the reason, every handle null, nothing left behind,
// false.
bool openresults(const char* folder, FILE* files[run_files], char names[run_files][256],
                 int* number);

// Syncs a folder's entries to the disk (fsync of the folder itself), so that files created in
// it or renamed into it are still there after a power cut; "" is the root folder. A file system
// that cannot sync folders counts as synced. False, after one line on standard error naming
// the folder and the reason, when the system refused.
bool syncfolder(const char* folder);
// How the run's files sync their folder: syncfolder. Tests put a recorder here.
inline bool (*foldersync)(const char* folder) = syncfolder;

// Pushes what the stream holds to its file and on to the disk (fsync). False, after one line on
// standard error naming the file and the reason, when it did not get there (full disk, lost
// mount) or there is no stream.
bool flushresults(FILE* f, const char* name);

// ---- state (map_state.cpp) ----

// Every default that init sets, without opening results files: for tools that read a design
// without running it.
void mapdefaults(maphdl& m);

// ---- settings reader (map_settings.cpp) ----

// What the settings reader made of one line. Lines are counted from 1 as an editor counts them:
// CR, LF and the pair CR LF each end one line.
enum class settingsnote {
  setting,     // a single setting stored and echoed
  partial,     // the line begins with `key` but matches its format only in part: the values read
               // before the mismatch are stored (`values[0]` says how many), nothing is echoed
  nomatch,     // the line matches no key (blank lines too; `text` shows the line)
  blockopen,   // the line opens block `key`
  blockclose,  // the closing line of block `key`
  unclosed,    // block `key` ran to the end of the file; `line` is the file's last line
  value,       // a value line of block `key` stored (set lines report `setline` instead)
  badvalue,    // a value line of block `key` that does not parse, skipped
  setline,     // a set line: `values` targets and distractors, `num_trials` trials built
  refused,     // a value the model cannot hold; `message` says what happens instead
  clipped,     // a colour line with a component outside 0..255, stored as its low 8 bits
  longline,    // the line is longer than the reader's 254 characters; the rest reads as lines
  trailing,    // after the line's value(s), read and used as usual, more than blanks follows:
               // `message` holds it (as in "num_x: 10.5", read as 10); a colour line's
               // `values` are its three numbers
};

struct settingsevent {
  settingsnote what;    // what happened
  int line;             // line number in the file, from 1
  const char* key;      // the setting or block the line belongs to; "" when none
  const char* text;     // the line (or its first 254 characters) as read, line end included
  const char* message;  // refused: the refusal in plain words; trailing: what follows the
                        // values, line end included; otherwise ""
  int values[3];        // setline: targets, distractors; clipped/value of a colour: r, g, b read
  int first_trial;      // setline: position in the trial pool (creation order) of its first trial
  int num_trials;       // setline: trials built from it
};

// Receives the reader's notes, one call per event, in file order.
class settingsobserver {
 public:
  virtual ~settingsobserver() = default;
  virtual void note(const settingsevent& e) = 0;
};

// Reads a settings file from an open stream into m, as loadsettings does: fields, lists, colour
// sets, the trial set and its angle pools; echoes into m.results_file when that is open. The
// watcher (may be null) hears about every line. loadsettings uses a watcher that only prints the
// refusals; spatialmemory-check uses one that reports everything.
void readsettings(maphdl& m, FILE* in, settingsobserver* watcher);

// The matcher behind every settings line: text against a format of literal characters, blanks
// (any run of white space, none included), %d (an int) and %f (a float), with scanf's rules
// for where each stops. Unlike sscanf it has no undefined behaviour: a number out of its
// field's range, or a float that is not finite, does not match. Stores through out[i] in order
// (int* for %d, float* for %f); returns how many were stored before the first mismatch. When
// `end` is given it is set to where the matching stopped in `text`.
int scanvalues(const char* text, const char* format, void* const* out, const char** end = nullptr);

// The most trials the trial pool takes; set lines beyond it are refused, since a pool in the
// millions would only exhaust memory at start-up.
const int max_trials = 100000;

// ---- layout (map_layout.cpp) ----

// Texture size of the three layers, texels a side.
constexpr int map_tex_size = 512;

// Keeps, of a pool of cell numbers walked from its head in increasing order, the cells whose
// column and row are both even, so that no two candidate cells touch. cells_per_column is
// num_y: cells are numbered column * num_y + row.
void thinpool(generator<int>* pool, int cells_per_column);

// Paints grid cell `cell` as an item into the top layer's RGBA pixels (`top`) and, for a
// target, the under layer's (`under`; null for a distractor): a hole in the top layer, with a
// ring of `colour` (an RGB triple) `borderwidth` + 1 texels wide when `borders` is set, and full
// red in the under layer's disc. Both images are width x height; nothing outside them is touched.
void paintitem(unsigned char* top, unsigned char* under, int width, int height, int num_x,
               int num_y, int cell, int borders, int borderwidth, const unsigned char* colour);

// After one item of a kind has been painted: n counts items on colour k; after items / entries
// of them the next colour of the set is taken, wrapping round.
void nextcolour(int* k, int* n, int items, int entries);

// The drawn shift (x and y each -1, 0 or 1) turned into one of the four axis steps.
vec correctshift(vec drawn);

// One cell along `dir` in world units: a column's width in x, a row's height in y.
vec cellstep(vec dir, float map_width, float map_height, int num_x, int num_y);

// Sets the four clip planes at the top layer's edges in the current model-view frame, the frame
// the top layer is drawn in. drawunder enables them around the under-layer quad only, so a
// shifted under layer never shows beyond the top layer; the background shows there instead.
void topclipplanes(float map_width, float map_height);

// ---- rendering (map_render.cpp) ----

// From SHIFT on the map is drawn flat: its depths scaled by this.
constexpr float flat_depth = 0.1f;

// The colour (RGBA) each layer is drawn in when drawn with ids.
extern const float layerids[4][4];
// The height (z) of a layer's plane in the frame the flat picture is drawn from (the frame
// render leaves for checkclick): the depth of the layer scaled by flat_depth.
float layerheight(maplayer layer, float depth_sep, vec map_pos);

// ---- hit-testing (map_hittest.cpp) ----

// A point (ox, oy) of the screen's map plane carried back through the map's rotation (degrees)
// and the under layer's shift, as a grid position in cells (column, row, not rounded).
std::pair<double, double> gridposition(double ox, double oy, float rotation, vec map_pos,
                                       float map_width, float map_height, int num_x, int num_y);

// The column and row of a grid position: each rounded down, so that a position less than a
// cell left of or below the grid lies in column or row -1, never on the edge's cells. Positions
// far off the grid (a click beside the picture un-projects to the far plane) and NaN are first
// held to +-2^20 cells, so both fit an int.
std::pair<int, int> gridcolrow(double gx, double gy);
// Whether (column, row) is a cell of a num_x x num_y grid, numbered column * num_y + row.
bool ongrid(int column, int row, int num_x, int num_y);

// ---- angle pools (map_trials.cpp) ----

// Shuffles each pool once, in key order, with the shared generator as it stands: a draw among
// n is randomnumber() % n. Seeded with the same seed, the same pools come out in the same order.
void shufflepools(std::map<std::string, std::vector<float>>* pools);
