// What the hostile-input corpora of the tools share: a tool run as its own process on one
// input, with its standard output and error kept and a time limit, and the corpus files of a
// folder. A crash shows as a signal, a hang as the time limit, a sanitizer's report as lines on
// standard error.
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct toolrun {
  int status = -1;    // exit status; -1 when it did not exit
  int signal = 0;     // the signal that ended it, 0 when none
  bool hung = false;  // killed at the time limit
  std::string out;    // standard output
  std::string err;    // standard error
};

inline std::string readall(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Runs argv[0] with the arguments, killed after `seconds`.
inline toolrun runtool(const std::vector<std::string>& args, double seconds) {
  toolrun r;
  char out[] = "/tmp/smcorpus-outXXXXXX", err[] = "/tmp/smcorpus-errXXXXXX";
  const int fo = mkstemp(out), fe = mkstemp(err);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, fo, 1);
  posix_spawn_file_actions_adddup2(&files, fe, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        r.hung = true;
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!r.hung && WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (!r.hung && WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
  }
  posix_spawn_file_actions_destroy(&files);
  close(fo), close(fe);
  r.out = readall(out), r.err = readall(err);
  unlink(out), unlink(err);
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
