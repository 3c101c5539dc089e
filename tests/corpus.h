// What the hostile-input corpora of the tools share: a tool run as its own process on one
// input, with its standard output and error kept and a time limit, and the corpus files of a
// folder. A crash shows as a signal, a hang as the time limit, a sanitizer's report as lines on
// standard error.
#pragma once
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct toolrun {
  int status;       // exit status: 124 at the time limit, 128 + N when signal N ended it
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string readall(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Runs the program with its arguments (no single quotes in them), killed after `seconds`.
inline toolrun runtool(const std::vector<std::string>& args, int seconds) {
  const std::string out = "/tmp/smcorpus-" + std::to_string(getpid());
  std::string command = "timeout -k 5 " + std::to_string(seconds);
  for (const std::string& a : args) command += " '" + a + "'";
  const int status = std::system((command + " >" + out + ".out 2>" + out + ".err").c_str());
  toolrun r = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readall(out + ".out"),
               readall(out + ".err")};
  unlink((out + ".out").c_str()), unlink((out + ".err").c_str());
  return r;
}

// The files of a corpus folder, by name, but its README.md.
inline std::vector<std::string> corpusfiles(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' && std::string(e->d_name) != "README.md") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The source tree's top folder, from this header's place in it.
inline std::string sourcetop() {
  std::string here = __FILE__;
  return here.erase(here.rfind("/tests/"));
}
