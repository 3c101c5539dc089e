// records: every byte the run writes into the two results files: the header lines, each trial's
// line (tab results file) and record (coordinate results file), and the exit tally on standard
// output. Pure functions on a FILE*, so tests write into a memory stream; opening, naming and
// closing the files belong to the map.
#pragma once
#include <cstdio>
#include <utility>
#include <vector>
#include "model/generator.h"

// Columns 1 to 8 of a trial: known once its map is laid out.
struct recordstart {
  int trial;           // the trial's number in this run, 1 for the first
  int targets;         // target cells
  int distracts;       // distractor cells
  int borders;         // 1 when cells have coloured rings
  int blank;           // 1 when WAIT shows nothing
  int instant;         // 1 when the shift is applied at once
  float wait_length;   // WAIT length, seconds
  float rotate_angle;  // rotation reached in ROTATE, degrees
};

// Columns 9 to 12 of a trial: its hit counts, already rounded up.
struct recordhits {
  float targets;    // clicks on target cells
  float distracts;  // clicks on distractor cells
  float empty;      // clicks on cells holding neither
  float total;      // all scored clicks
};

void writetabheader(FILE* f);    // twelve names, tab-separated, no tab at the end
void writecoordheader(FILE* f);  // eighteen names in 13-character columns

void writetabstart(FILE* f, const recordstart& r);    // columns 1-8, each followed by a tab
void writecoordstart(FILE* f, const recordstart& r);  // columns 1-8, 13 wide and a space
void writetabhits(FILE* f, const recordhits& h);      // columns 9-12, each followed by a tab
void writecoordhits(FILE* f, const recordhits& h);    // columns 9-12, 13 wide and a space

// The rows of columns 13-18: clicks beside target cells beside distractor cells, one entry of
// each list a row until all three are used up; a used-up list leaves its two columns blank.
// Every row ends with the newline and the 168 spaces that put the next row under its headers.
// Cells are written as column (cell / num_y) and row (cell % num_y); num_y must be positive.
void writecoordrows(FILE* f, const std::vector<std::pair<float, float>>& clicks,
                    const gen_node<int>* targets, const gen_node<int>* distracts, int num_y);

// Sorts the clicks by column, then row, and keeps one of each run of equal pairs. A pair that
// is not a number (a click the hit test could not place) sorts last and is kept as it is.
void sortclicks(std::vector<std::pair<float, float>>* clicks);

// The tally cell of a trial with these counts, or -1 when either count lies outside 9..20 and
// the trial has no cell.
int tallycell(int targets, int distracts);
// Sixteen lines "targets distractors: trials", targets varying slowest, then an empty line.
void writetally(FILE* f, const int count[16]);
