// designcheck: what a settings file will make of a run, told before a subject sits down.
// Reads the file with the experiment's own settings reader and trial-set construction (no
// window, no GL, no results files) and turns what the reader noticed, and what the trial set
// implies, into problem lines and a summary. Printing and the exit status belong to main.cpp.
#pragma once
#include <string>
#include <vector>

struct designreport {
  bool readable;                      // the file could be opened
  std::string reason;                 // why not, when it could not
  std::vector<std::string> problems;  // "FILE:LINE: message", in line order
  std::string summary;                // several lines: settings, trials, conditions, colours, time
};

// Checks the settings file `name` (as given: problem lines begin with it).
designreport checkdesign(const char* name);

// 0 when the file was read and has no problem, 1 when it has any, 2 when it could not be read.
int exitstatus(const designreport& report);
