// tool: spatialmemory-replay's command line and its work from the files of a run to the PNG
// files of its trials: which trials, at what size, into which folder, what is said about each,
// and the exit status. Reading the files is recorded's, laying a trial out again recreate's,
// drawing pictures', marking up and writing marks'.
#pragma once
#include <string>
#include <vector>

struct replayoptions {
  std::string results;      // the tab results file results<N>.txt
  std::vector<int> trials;  // trial numbers asked for, ascending, each once; empty: all
  std::string out;          // output folder; "" for a new replay<N> beside the results
  int width = 0;            // picture size, pixels; 0 for the screen size the run recorded
  int height = 0;
  bool help = false;     // --help
  bool version = false;  // --version
};

// The text --help prints: the usage line, what the tool makes, every option, the exit status.
extern const char* const replay_usage;

// Reads the command line (argv[0] is the program). False on a wrong one, with one line on
// what is wrong in *problem.
bool parseoptions(int argc, const char* const* argv, replayoptions* out, std::string* problem);

// The whole tool: what it makes goes to standard output, problems to standard error. Returns
// the exit status: 0 every trial asked for drawn, 1 a problem with the files or a trial
// refused, 2 a wrong command line.
int replaytool(int argc, const char* const* argv);
