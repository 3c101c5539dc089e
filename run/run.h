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
void reshape(int width, int height);
void release();
void displayfunc();
void keydownfunc(unsigned char key, int x, int y);
void keyupfunc(unsigned char key, int x, int y);
void mousefunc(int button, int state, int x, int y);

// The data folder from the program's path: everything before the '/' that precedes the last
// '.'; the current folder (".") when there is no such '/'. Never writes more than size bytes.
void derivepath(const char* argv0, char* out, int size);
