// run: the program's entry, its callbacks, the phase loop, the trial commands and the results
// records. Owns the run's plain globals below; the handler objects (cam, display, keys, mouse,
// map) are defined beside their classes.
#pragma once

extern int prgm_stat;       // phase: 0 idle, 1 WATCH, 2 SHIFT, 3 ROTATE, 4 WAIT, 5 PICK
extern float watch_start;   // clock time WATCH began, seconds
extern float shift_start;   // clock time SHIFT began, seconds
extern float rotate_start;  // clock time ROTATE began, seconds
extern float wait_start;    // clock time WAIT began, seconds
extern float nhits_t;       // clicks on target cells in the current trial
extern float nhits_d;       // clicks on distractor cells in the current trial
extern float nhits_e;       // clicks on cells holding neither, in the current trial
extern float total_hits;    // all scored clicks in the current trial
extern int count[16];       // trials started per (targets, distractors) pair, 4 x 4, row by row
extern float points;        // the subject's running score, shown on the idle screen

void init();
// The GL state the whole run draws with: only fully opaque fragments (the map's holes are
// alpha 0), blending, depth test LEQUAL, back faces culled, black clear colour.
void fixglstate();
void reshape(int width, int height);
void release();
void displayfunc();
void keydownfunc(unsigned char key, int x, int y);
void keyupfunc(unsigned char key, int x, int y);
void mousefunc(int button, int state, int x, int y);

// The few calls the callbacks make into the toolkit and into the map's GL side. main keeps the
// defaults; tests put their own here to drive the callbacks without a window.
struct runhooks {
  void (*setcursor)(int shape);                          // glutSetCursor
  void (*swapbuffers)();                                 // glutSwapBuffers
  void (*drawtext)(const char* text, float x, float y);  // white text at picture fractions
  void (*render)(int phase);                             // map.render
  void (*resetmap)();                                    // map.reset_map
  int (*checkclick)(double x, double y);                 // map.checkclick
};
extern runhooks hooks;

// The phase after a frame of phase `stat`, which began at `start` and lasts `length` seconds,
// when the display clock reads `now`: the next phase once now - start is strictly greater than
// the length (in double precision), else `stat`. Idle (0) and PICK (5) end by key, never by time.
int nextphase(int stat, double now, float start, float length);
// Moves the running trial on by one phase when its time is up, as the frame's last step: sets
// the next phase's start time, ends the slide at the end of SHIFT, shows the pointer for PICK.
void advancephase();
// Takes the last trial's hit counts into `points` and clears them; every idle frame does this.
void scoreidle();

// Writes out both results files; a failure is reported on standard error with the file's name.
void flushrecords();

// The data folder from the program's path: everything before the '/' that precedes the last
// '.'; the current folder (".") when there is no such '/', or when the folder is too long for
// size bytes, which is said in one line on standard error. Never writes more than size bytes.
void derivepath(const char* argv0, char* out, int size);
