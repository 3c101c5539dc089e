// marks: the marked PICK picture (cell outlines, numbered clicks, a legend) and the PNG files,
// drawn and written with cairo. What to mark, and where, comes from the tool and pictures.
#pragma once
#include <string>
#include <utility>
#include <vector>
#include "replay/pictures.h"

// A target or distractor cell where it stands in PICK: its four corners on the picture.
struct celloutline {
  std::pair<double, double> corners[4];  // picture pixels, x right, y down, in order round it
  bool target;                           // a target cell, else a distractor cell
};

// A click on the picture and what it hit.
struct clickspot {
  double x, y;         // picture pixels, x right, y down
  std::string result;  // "target", "distractor", "empty", "repeat" or "off_grid"
};

// The fill of a click mark of each result, 0xRRGGBB: exact colours, so a mark's inside can be
// found on the picture again.
unsigned markcolour(const std::string& result);

// One mark of the marked picture: a spot and every click made at it.
struct clickmark {
  double x, y;         // picture pixels, x right, y down
  std::string result;  // what the spot's first click hit; it sets the mark's colour
  std::string label;   // the numbers of its clicks, from 1 in the order made: "2", "3,4"
};

// The marks of a trial's clicks, one per spot in the order of each spot's first click. Clicks
// at the very same spot (a press and its release) share a mark: the later ones can only hit the
// same cell again.
std::vector<clickmark> clickmarks(const std::vector<clickspot>& clicks);

// The PICK picture with the outlines, the clicks' marks (clickmarks), and the legend's lines
// and a key to the marks in a box at the top left of the 16:10 picture at `viewport` (x, y
// from the bottom, width, height).
picture markup(const picture& pick, const int viewport[4], const std::vector<celloutline>& cells,
               const std::vector<clickspot>& clicks, const std::vector<std::string>& legend);

// Writes the picture as a PNG file under a name that must be new: an existing file is never
// overwritten. False with "NAME: reason" otherwise.
bool writepng(const picture& p, const std::string& name, std::string* problem);
