// run: the program's entry, its callbacks, the phase loop, the trial commands, the results
// records and the event log (events.h). Owns the run's plain globals below; the handler objects
// (cam, display, keys, mouse, map) are defined beside their classes.
#pragma once
#include <string>

extern int prgm_stat;  // phase: 0 idle, 1 WATCH, 2 SHIFT, 3 ROTATE, 4 WAIT, 5 PICK
// Phase onsets: the clock read right after the swap of the phase's first frame, seconds;
// infinite from the phase change until that swap.
extern double watch_start;   // WATCH's onset
extern double shift_start;   // SHIFT's onset
extern double rotate_start;  // ROTATE's onset
extern double wait_start;    // WAIT's onset
extern double pick_start;    // PICK's onset: clicks and 's' count from here on
extern float nhits_t;        // clicks on target cells in the current trial
extern float nhits_d;        // clicks on distractor cells in the current trial
extern float nhits_e;        // clicks on cells holding neither, in the current trial
extern float total_hits;     // all scored clicks in the current trial
extern int count[16];        // trials started per (targets, distractors) pair, 4 x 4, row by row
extern float points;         // the subject's running score, shown on the idle screen
extern bool pilot_run;       // a pilot run in a window (--window); recorded in the sidecar
extern const char* participant_id;  // --participant, recorded in the sidecar; null when not given
extern const char* session_id;      // --session, likewise
extern long long run_seed;          // --seed: the run's first seed; -1 for seeds from the clock

void init();
// The GL state the whole run draws with: only fully opaque fragments (the map's holes are
// alpha 0; opaquealpha, platform.h), blending, depth test LEQUAL, back faces culled, black
// clear colour.
void fixglstate();
void reshape(int width, int height);
void release();
void displayfunc();
void keydownfunc(unsigned char key, int x, int y);
void keyupfunc(unsigned char key, int x, int y);
void mousefunc(int button, int state, int x, int y);
// A pagechange (platform.h): during a trial it is kept for the trial's rows; on the idle screen
// there is no trial to record it in.
void pagefunc(int change);

// The few calls the callbacks make into the platform and into the map's GL side. main keeps the
// defaults; tests put their own here to drive the callbacks without a window.
struct runhooks {
  void (*setcursor)(int shape);                          // setpointer (platform.h)
  void (*swapbuffers)();                                 // swapframe (platform.h)
  void (*drawtext)(const char* text, float x, float y);  // white text at picture fractions
  void (*render)(int phase);                             // map.render
  void (*resetmap)();                                    // map.reset_map
  int (*checkclick)(double x, double y);                 // map.checkclick
  // The swapped frame is on screen when swapbuffers returns (the desktop); false where it goes
  // to the screen once displayfunc has returned (the browser), and is taken as shown at the
  // start of the next displayfunc (swapshowsframe, platform.h).
  bool swap_shows_frame;
};
extern runhooks hooks;

// The phase after a frame of phase `stat`, whose onset was `start` (infinite while its first
// frame is still to be swapped) and which lasts `length` seconds, when the display clock reads
// `now`: the next phase once now - start is strictly greater than the length, else `stat`. The
// next phase's first frame is swapped after `now`, so a phase lasts longer than its length on
// screen. A length of 0 or less is over once the phase has been drawn. Idle (0) and PICK (5)
// end by key, never by time.
int nextphase(int stat, double now, double start, float length);
// Moves the running trial on by one phase when its time is up at clock time `now`: marks the
// next phase's onset as still to come, ends the slide at the end of SHIFT, shows the pointer
// for PICK.
void advancephase(double now);
// After every buffer swap: `shown` the phase the frame showed, `frame` the frame counter it was
// drawn with. Reads the clock, sets the onset of a phase whose first frame this was, hands the
// swap to the event log and moves the trial on when the phase's time is up.
void frameshown(int shown, double frame);
// Takes the last trial's hit counts into `points` and clears them; every idle frame does this,
// and so does 'g' before it starts the next trial.
void scoreidle();
// Whether PICK is on screen: its first frame has been swapped. Before that, clicks and 's' in a
// trial do nothing but leave an `early` row in the event log.
bool pickshown();

// Writes out the three files (both results files and the event log) and syncs them to the
// disk. A failure is one line on standard error naming the file and the reason, and ends the
// run at once with status 1: the trials still to come would be lost.
void flushrecords();
// The full names of the run's four files (tab results, coordinates, event log, sidecar), each
// ending with a newline; "" before they exist. For the browser's page, which keeps copies of
// them whenever they are saved (filessaved, platform.h); valid until the next call.
extern "C" const char* spatialmemory_files();
// prgm_stat, for the page: 0 idle, 1 WATCH .. 5 PICK.
extern "C" int spatialmemory_phase();

// Brings the event log's sidecar up to date with the window size and the measured refresh
// interval, rewriting it when either changed; a failure ends the run as in flushrecords. Does
// nothing before init has written the sidecar once.
void savefacts();
// The sidecar's facts that need no window: the run's files, the data folder's settings file
// (name, text, fingerprint), participant and session, and the design as the map holds it once
// the settings are read (wait lengths, angles, each condition's pool in the order its trials
// take the angles, the shuffle). Call after map.init() and map.loadsettings().
struct sidecarfacts;
void designfacts(sidecarfacts* facts);
// The line init says on standard error: the data folder in full and the run's four files.
std::string startupline(const sidecarfacts& facts);

// The data folder from the program's path: everything before the '/' that precedes the last
// '.'; the current folder (".") when there is no such '/', or when the folder is too long for
// size bytes, which is said in one line on standard error. Never writes more than size bytes.
void derivepath(const char* argv0, char* out, int size);
