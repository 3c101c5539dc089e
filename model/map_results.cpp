// map_results: choosing the run number and creating both results files.
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

// Formats folder/<stem><n>.txt into a 256-byte buffer; false when it does not fit.
bool formname(char* out, const char* folder, const char* stem, int n) {
  int len = snprintf(out, 256, "%s/%s%d.txt", folder, stem, n);
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

}  // namespace

bool openresults(const char* folder, FILE** tab, char* tab_name, FILE** coord, char* coord_name) {
  *tab = nullptr;
  *coord = nullptr;
  tab_name[0] = '\0';
  coord_name[0] = '\0';
  for (int n = 0; n < INT_MAX; n++) {
    if (!formname(tab_name, folder, "results", n) ||
        !formname(coord_name, folder, "results_coord", n)) {
      fprintf(stderr,
              "cannot create a results file in %s: the file name is longer than 255 characters\n",
              folder);
      tab_name[0] = coord_name[0] = '\0';
      return false;
    }
    if (taken(tab_name) || taken(coord_name)) continue;
    FILE* t = createnew(tab_name);
    if (!t) {
      if (errno == EEXIST) continue;  // another run took this number a moment ago
      fprintf(stderr, "cannot create the results file %s: %s\n", tab_name, strerror(errno));
      return false;
    }
    FILE* c = createnew(coord_name);
    if (!c) {
      int saved = errno;
      fclose(t);
      unlink(tab_name);  // ours, and still empty: leave no half of a run behind
      if (saved == EEXIST) continue;
      fprintf(stderr, "cannot create the results file %s: %s\n", coord_name, strerror(saved));
      return false;
    }
    *tab = t;
    *coord = c;
    return true;
  }
  fprintf(stderr, "cannot create a results file in %s: every run number is taken\n", folder);
  return false;
}

bool flushresults(FILE* f, const char* name) {
  if (!f) {
    fprintf(stderr, "cannot write the results file %s: it is not open\n", name);
    return false;
  }
  if (fflush(f) != 0 || ferror(f)) {
    fprintf(stderr, "cannot write the results file %s: %s\n", name, strerror(errno));
    return false;
  }
  return true;
}
