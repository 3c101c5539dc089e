// options: the program's command line, `spatialmemory [OPTIONS] [DATA_FOLDER]`, read into what
// the entry does with it. Owns the options, the usage text and the data folder check; opening
// the window and reading the settings stay with the entry and the map.
#pragma once

#include <string>
#include <vector>

struct options {
  // usage: a mistake on the command line, said with the usage; refused: a value that cannot be
  // used, said in one line.
  enum action { run, help, version, usage, refused };
  action what = run;                  // what the entry does
  bool window = false;                // --window: a pilot run in a window
  const char* folder = nullptr;       // DATA_FOLDER; null: the folder from argv[0]
  const char* participant = nullptr;  // --participant ID; null when not given
  const char* session = nullptr;      // --session ID; null when not given
  long long seed = -1;  // --seed N: the run's first seed, 0 to 2^32 - 1; -1: seeds from the clock
  std::vector<char*> toolkit;  // argv[0], then the toolkit's options with their values, in order
  std::string mistake;         // for `usage` and `refused`: the argument at fault, as one line
};

// Reads argv[1..argc-1]. `--help` wins over everything but a mistake, `--version` over running;
// the toolkit's own options (-display NAME, -geometry WxH+X+Y, -direct, -indirect, -iconic,
// -gldebug, -sync) are kept for it; after `--` every argument is a folder. Any other argument
// starting with '-', a second folder, an option given twice or without its value is a mistake.
// A participant or session ID that is not an ID (see idproblem) is refused.
options parseoptions(int argc, char** argv);

// Why `id` cannot name a participant or session, or "" when it can: an ID is 1 to 64 printable
// ASCII characters (space to '~') other than '/' and '\', so that it can stand in a file or
// folder name and in any column of a table.
std::string idproblem(const char* id);

// The usage with every option, for --help and after a mistake.
std::string usagetext();

// Copies a DATA_FOLDER, without trailing slashes, into `out` when it names an existing folder
// and fits in size bytes; otherwise leaves `out` alone and says why in `why`, one line naming
// the folder.
bool takefolder(const char* folder, char* out, int size, std::string* why);
