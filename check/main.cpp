// spatialmemory-check: tells an experimenter what a settings file will do and what is wrong
// with it, before a subject sits down. Owns the command line, the printing and the exit
// status; the judgement is designcheck's.
#include <cstdio>
#include <cstring>

#include "check/designcheck.h"

namespace {

const char usage[] =
    "usage: spatialmemory-check [OPTIONS] [FILE]\n"
    "Reads a settings file (FILE, or settings.txt in the current folder) as the experiment\n"
    "will and reports every problem as FILE:LINE: message, then what the design builds.\n"
    "Exit status: 0 no problem, 1 problems found, 2 the file cannot be read.\n"
    "\n"
    "Options:\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n"
    "  --           the next argument is the FILE, even one starting with '-'\n";

}  // namespace

int main(int argc, char** argv) {
  const char* name = nullptr;
  bool help = false, version = false, files_only = false;
  const char* mistake = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (!files_only && strcmp(arg, "--") == 0)
      files_only = true;
    else if (!files_only && strcmp(arg, "--help") == 0)
      help = true;
    else if (!files_only && strcmp(arg, "--version") == 0)
      version = true;
    else if ((!files_only && arg[0] == '-' && arg[1] != '\0') || name)
      mistake = mistake ? mistake : arg;
    else
      name = arg;
  }
  if (mistake) {
    fprintf(stderr, "spatialmemory-check: unexpected argument %s\n%s", mistake, usage);
    return 2;
  }
  if (help) {
    fputs(usage, stdout);
    return 0;
  }
  if (version) {
    printf("spatialmemory-check %s\n", SPATIALMEMORY_VERSION);
    return 0;
  }
  if (!name) name = "settings.txt";
  designreport report = checkdesign(name);
  if (!report.readable) {
    fprintf(stderr, "spatialmemory-check: cannot read %s: %s\n", name, report.reason.c_str());
    return exitstatus(report);
  }
  for (const std::string& line : report.problems) printf("%s\n", line.c_str());
  if (!report.problems.empty()) printf("\n");
  fputs(report.summary.c_str(), stdout);
  return exitstatus(report);
}
