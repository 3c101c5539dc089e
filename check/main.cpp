// spatialmemory-check: tells an experimenter what a settings file will do and what is wrong
// with it, before a subject sits down. Owns the command line, the printing and the exit
// status; the judgement is designcheck's.
#include <cstdio>

#include "check/designcheck.h"

int main(int argc, char** argv) {
  if (argc > 2) {
    fprintf(stderr, "usage: spatialmemory-check [FILE]\n");
    return 2;
  }
  const char* name = argc == 2 ? argv[1] : "settings.txt";
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
