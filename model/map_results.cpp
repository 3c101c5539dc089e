// map_results: choosing the run number and creating the run's three files (both results
// files and the event log).
// Owns the rule that a results file, once written, is never emptied or overwritten; what goes
// into the files belongs to the settings echo (map_settings.cpp) and the run's records.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "model/map.h"

namespace {

// The names of a run, stem and extension: the three files in the order they are created, then
// the log's sidecar, which the run writes later under a temporary name and renames into place.
const int run_names = run_files + 1;
const char* const stems[run_names][2] = {{"results", ".txt"},
                                         {"results_coord", ".txt"},
                                         {"results_events", ".tsv"},
                                         {"results_events", ".json"}};

// Formats folder/<stem><n><extension> into a 256-byte buffer; false when it does not fit.
bool formname(char* out, const char* folder, int file, int n) {
  int len = snprintf(out, 256, "%s/%s%d%s", folder, stems[file][0], n, stems[file][1]);
  return len >= 0 && len < 256;
}

// True when something already stands under the name. A name we cannot even look at counts as
// free here, so that creating it fails and says why rather than searching forever.
bool taken(const char* name) {
  struct stat st;
  return lstat(name, &st) == 0;
}

// Creates the file only if nothing stands under its name (O_EXCL), so two runs racing for the
// same number cannot both write into one file.
FILE* createnew(const char* name) {
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "w");
  if (!f) {
    int saved = errno;
    close(fd);
    unlink(name);
    errno = saved;
  }
  return f;
}

// Closes and removes the first `made` files: ours, and still empty, so no part of a run is
// left behind.
void undo(FILE* files[run_files], char names[run_files][256], int made) {
  for (int i = 0; i < made; i++) {
    fclose(files[i]);
    unlink(names[i]);
    files[i] = nullptr;
  }
}

}  // namespace

bool openresults(const char* folder, FILE* files[run_files], char names[run_files][256],
                 int* number) {
  for (int i = 0; i < run_files; i++) files[i] = nullptr, names[i][0] = '\0';
  *number = -1;
  char sidecar[256];
  for (int n = 0; n < INT_MAX; n++) {
    bool fits = formname(sidecar, folder, run_files, n), free = true;
    for (int i = 0; i < run_files; i++) fits = fits && formname(names[i], folder, i, n);
    if (!fits) {
      fprintf(stderr,
              "cannot create a results file in %s: the file name is longer than 255 characters\n",
              folder);
      for (int i = 0; i < run_files; i++) names[i][0] = '\0';
      return false;
    }
    // A sidecar alone is an earlier run's too: renaming the new one over it would lose it.
    for (int i = 0; i < run_files; i++) free = free && !taken(names[i]);
    if (!free || taken(sidecar)) continue;
    int made = 0;
    while (made < run_files && (files[made] = createnew(names[made])) != nullptr) made++;
    if (made == run_files) {
      // The files are synced as they are written; their names live in the folder.
      if (!foldersync(folder)) {
        undo(files, names, made);
        for (int i = 0; i < run_files; i++) names[i][0] = '\0';
        return false;
      }
      *number = n;
      return true;
    }
    int saved = errno;
    undo(files, names, made);
    if (saved == EEXIST) continue;  // another run took this number a moment ago
    fprintf(stderr, "cannot create the results file %s: %s\n", names[made], strerror(saved));
    return false;
  }
  fprintf(stderr, "cannot create a results file in %s: every run number is taken\n", folder);
  return false;
}

bool syncfolder(const char* folder) {
  const char* name = folder[0] ? folder : "/";
  int fd = open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool synced = fd >= 0 && fsync(fd) == 0;
  // Some file systems keep no folder to sync (EINVAL); that is no failure of ours.
  if (!synced && fd >= 0 && (errno == EINVAL || errno == ENOTSUP)) synced = true;
  const int reason = errno;
  if (fd >= 0) close(fd);
  if (!synced) fprintf(stderr, "cannot sync the data folder %s: %s\n", name, strerror(reason));
  return synced;
}

bool flushresults(FILE* f, const char* name) {
  if (!f) {
    fprintf(stderr, "cannot write the results file %s: it is not open\n", name);
    return false;
  }
  // fflush only hands the bytes to the system; fsync is what makes them survive a power cut.
  errno = 0;
  if (fflush(f) != 0 || ferror(f) || fsync(fileno(f)) != 0) {
    // A write that failed before this flush set the stream's error flag and left no errno.
    fprintf(stderr, "cannot write the results file %s: %s\n", name,
            errno ? strerror(errno) : "an earlier write to it failed");
    return false;
  }
  return true;
}
