// map_settings: reading settings.txt into the map, echoing each setting into the results file.
// Owns the line-by-line reading, the matching of keys and values, the refusals of what the map
// cannot hold, and the notes a watcher (spatialmemory-check) hears about every line. Building
// trials from the set lines belongs to map_trials.cpp.
#include <cassert>
#include <cctype>
#include <cstdarg>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/standard.h"
#include "model/map.h"

namespace {

int scan(const unsigned char*& s, const char* format, void* const* out) {
  int stored = 0;
  for (const char* f = format; *f; f++) {
    if (isspace(static_cast<unsigned char>(*f))) {
      while (isspace(*s)) s++;
      continue;
    }
    if (*f != '%') {
      if (*s != static_cast<unsigned char>(*f)) return stored;
      s++;
      continue;
    }
    f++;
    while (isspace(*s)) s++;
    if (*f == 'd') {
      const unsigned char* p = s;
      bool negative = false;
      if (*p == '+' || *p == '-') negative = *p++ == '-';
      if (!isdigit(*p)) return stored;
      // Accumulate with a ceiling so a 300-digit number is refused instead of wrapping.
      long long v = 0;
      bool too_big = false;
      for (; isdigit(*p); p++) {
        if (!too_big) v = v * 10 + (*p - '0');
        if (v > 2147483648LL) too_big = true;
      }
      if (too_big || (!negative && v > INT_MAX)) return stored;
      *static_cast<int*>(out[stored]) = static_cast<int>(negative ? -v : v);
      s = p;
    } else {
      assert(*f == 'f' && "scanvalues knows only %d and %f");
      char* end = nullptr;
      float v = strtof(reinterpret_cast<const char*>(s), &end);
      if (end == reinterpret_cast<const char*>(s) || !std::isfinite(v)) return stored;
      *static_cast<float*>(out[stored]) = v;
      s = reinterpret_cast<const unsigned char*>(end);
    }
    stored++;
  }
  return stored;
}

}  // namespace

int scanvalues(const char* text, const char* format, void* const* out, const char** end) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  const int stored = scan(s, format, out);
  if (end) *end = reinterpret_cast<const char*>(s);
  return stored;
}

namespace {

// Hands out the file's lines as the line reader returns them (at most 254 characters, line end
// kept), numbering them as an editor would.
struct linereader {
  FILE* in;                 // the settings file
  char buf[255];            // the piece just read, zero-terminated
  int line = 0;             // editor line number of the piece just read
  bool at_start = true;     // the next piece begins a new line
  bool after_cr = false;    // the piece just read ended with CR
  bool lf_of_crlf = false;  // the piece is the LF that completes a CR LF line end
  bool continued = false;   // the piece is the rest of a line longer than the buffer

  explicit linereader(FILE* f) : in(f) {}

  bool next() {
    if (!better_fgets(buf, sizeof buf, in)) return false;
    size_t len = strlen(buf);
    char last = len ? buf[len - 1] : '\0';
    lf_of_crlf = after_cr && strcmp(buf, "\n") == 0;
    continued = !lf_of_crlf && !at_start;
    if (at_start && !lf_of_crlf) line++;
    at_start = last == '\n' || last == '\r';
    after_cr = last == '\r';
    return true;
  }
  bool atend() const { return feof(in) != 0; }
};

bool beginswith(const char* s, const char* key) {
  return strncmp(s, key, strlen(key)) == 0;
}

// One reading of one file: the map, the stream, the watcher and the event plumbing.
struct settingsreading {
  maphdl& m;
  linereader r;
  settingsobserver* watcher;
  int longline_reported = 0;  // last line already reported as too long
  bool partial = false;       // the line being tested matched some key in part

  settingsreading(maphdl& map, FILE* in, settingsobserver* w) : m(map), r(in), watcher(w) {}

  void tell(settingsnote what, const char* key, const char* message = "", int a = 0, int b = 0,
            int c = 0, int first = 0, int count = 0) {
    if (what == settingsnote::partial) partial = true;
    if (!watcher || r.lf_of_crlf) return;
    settingsevent e = {what, r.line, key, r.buf, message, {a, b, c}, first, count};
    watcher->note(e);
  }

  void echo(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!m.results_file) return;
    va_list args;
    va_start(args, format);
    vfprintf(m.results_file, format, args);
    va_end(args);
  }

  bool nextline() {
    if (!r.next()) return false;
    if (r.continued && longline_reported != r.line) {
      longline_reported = r.line;
      tell(settingsnote::longline, "");
    }
    return true;
  }

  // A single setting of one or two ints. Values read before a mismatch are stored; only a full
  // match is echoed. `limit` > 0 refuses values outside 1..limit, keeping the previous one.
  bool ints(const char* key, const char* format, int* a, int* b, int limit = 0) {
    int va = *a, vb = b ? *b : 0;
    void* out[2] = {&va, &vb};
    int need = b ? 2 : 1;
    const char* end = nullptr;
    int got = scanvalues(r.buf, format, out, &end);
    if (got == need && limit > 0 && (va < 1 || va > limit)) {
      std::string why = std::string(key) + " " + std::to_string(va) + " is outside 1 to " +
                        std::to_string(limit) + "; " + key + " stays " + std::to_string(*a);
      tell(settingsnote::refused, key, why.c_str());
      return true;
    }
    if (got >= 1) *a = va;
    if (got >= 2) *b = vb;
    if (got < need) {
      if (beginswith(r.buf, key)) tell(settingsnote::partial, key, "", got);
      return false;
    }
    if (b)
      echo("%s\t%d\t%d\n", key, *a, *b);
    else
      echo("%s\t%d\n", key, *a);
    tell(settingsnote::setting, key);
    rest(end, key);
    return true;
  }

  // What follows a line's values, when more than blanks: read past, but worth a word.
  void rest(const char* end, const char* key, int a = 0, int b = 0, int c = 0) {
    const char* p = end;
    while (*p && isspace(static_cast<unsigned char>(*p))) p++;
    if (*p) tell(settingsnote::trailing, key, end, a, b, c);
  }

  // A switch, 0 or 1. Never echoed: the tab results file's layout is older than any switch, and
  // its readers know only the settings it has always held.
  bool onoff(const char* key, const char* format, bool* field) {
    int v = 0;
    void* out[1] = {&v};
    const char* end = nullptr;
    if (scanvalues(r.buf, format, out, &end) < 1) {
      if (beginswith(r.buf, key)) tell(settingsnote::partial, key, "", 0);
      return false;
    }
    if (v != 0 && v != 1) {
      std::string why = std::string(key) + " " + std::to_string(v) + " is neither 0 nor 1; " + key +
                        " stays " + (*field ? "1" : "0");
      tell(settingsnote::refused, key, why.c_str());
      return true;
    }
    *field = v == 1;
    tell(settingsnote::setting, key);
    rest(end, key);
    return true;
  }

  bool number(const char* key, const char* format, float* field) {
    float v = *field;
    void* out[1] = {&v};
    const char* end = nullptr;
    if (scanvalues(r.buf, format, out, &end) < 1) {
      if (beginswith(r.buf, key)) tell(settingsnote::partial, key, "", 0);
      return false;
    }
    *field = v;
    echo("%s\t%f\n", key, *field);
    tell(settingsnote::setting, key);
    rest(end, key);
    return true;
  }

  // rotation_angles and wait_lengths: one number a line up to the closing line.
  void list(const char* key, float* values, int* count, const char* close) {
    tell(settingsnote::blockopen, key);
    const size_t closelen = strlen(close);
    bool refused = false;
    while (!r.atend()) {
      if (!nextline()) break;
      if (strncmp(r.buf, close, closelen) == 0) {
        tell(settingsnote::blockclose, key);
        return;
      }
      float v;
      void* out[1] = {&v};
      const char* end = nullptr;
      if (scanvalues(r.buf, "%f", out, &end) != 1) {
        tell(settingsnote::badvalue, key);
        continue;
      }
      if (*count >= 100) {
        if (!refused) {
          std::string why = std::string("more than 100 ") + key +
                            "; this and later values of the block are ignored";
          tell(settingsnote::refused, key, why.c_str());
        }
        refused = true;
        continue;
      }
      values[(*count)++] = v;
      tell(settingsnote::value, key);
      rest(end, key);
    }
    tell(settingsnote::unclosed, key);
  }

  void sets() {
    const char* key = "target_distract_sets";
    tell(settingsnote::blockopen, key);
    int wait_pos = 0;
    while (nextline()) {
      if (beginswith(r.buf, "set_end")) {
        tell(settingsnote::blockclose, key);
        return;
      }
      int targets, distracts;
      void* out[2] = {&targets, &distracts};
      const char* end = nullptr;
      if (scanvalues(r.buf, "%d %d", out, &end) != 2) {
        tell(settingsnote::badvalue, key);
        continue;
      }
      const int first = m.trials.size;
      const long long adding = m.num_trials_per_set > 0 ? m.num_trials_per_set : 0;
      if (first + adding > max_trials) {
        std::string why =
            "more than " + std::to_string(max_trials) + " trials in all; this set line is ignored";
        tell(settingsnote::refused, key, why.c_str(), targets, distracts);
        continue;
      }
      m.addtrialset(targets, distracts, &wait_pos);
      tell(settingsnote::setline, key, "", targets, distracts, 0, first, m.trials.size - first);
      rest(end, key);
    }
    tell(settingsnote::unclosed, key);
  }

  void colours(const char* key, unsigned char** set, int* count) {
    echo("%s\n", key);
    tell(settingsnote::blockopen, key);
    // Sized by the grid in force here, as many colours as cells.
    const int capacity = m.num_x > 0 && m.num_y > 0 ? m.num_x * m.num_y : 0;
    std::vector<unsigned char> scratch(static_cast<size_t>(capacity) * 3);
    // A block gives the whole set: a second block replaces the first instead of appending to
    // entries it never filled.
    *count = 0;
    bool refused = false, closed = false;
    while (nextline()) {
      if (beginswith(r.buf, "end:")) {
        tell(settingsnote::blockclose, key);
        closed = true;
        break;
      }
      int rgb[3];
      void* out[3] = {&rgb[0], &rgb[1], &rgb[2]};
      const char* end = nullptr;
      if (scanvalues(r.buf, "%d %d %d", out, &end) != 3) {
        tell(settingsnote::badvalue, key);
        continue;
      }
      if (*count >= capacity) {
        if (!refused) {
          std::string why = "more colours than the " + std::to_string(m.num_x) + " x " +
                            std::to_string(m.num_y) +
                            " grid has cells; this and later colours of the block are ignored";
          tell(settingsnote::refused, key, why.c_str(), rgb[0], rgb[1], rgb[2]);
        }
        refused = true;
        continue;
      }
      unsigned char* entry = &scratch[static_cast<size_t>(*count) * 3];
      for (int i = 0; i < 3; i++) entry[i] = static_cast<unsigned char>(rgb[i] & 0xff);
      echo("%d\t%d\t%d\n", entry[0], entry[1], entry[2]);
      (*count)++;
      bool outside = false;
      for (int i = 0; i < 3; i++) outside = outside || rgb[i] < 0 || rgb[i] > 255;
      tell(outside ? settingsnote::clipped : settingsnote::value, key, "", rgb[0], rgb[1], rgb[2]);
      rest(end, key, rgb[0], rgb[1], rgb[2]);
    }
    if (!closed) tell(settingsnote::unclosed, key);
    delete[] * set;
    *set = nullptr;
    // An empty block leaves no set at all, so the layout's default colour applies.
    if (*count > 0) {
      *set = new unsigned char[static_cast<size_t>(*count) * 3];
      memcpy(*set, scratch.data(), static_cast<size_t>(*count) * 3);
    }
  }

  void run() {
    while (nextline()) {
      // The LF of a CR LF pair reads as a line of its own; it matches nothing.
      if (r.lf_of_crlf) continue;
      const char* s = r.buf;
      partial = false;
      // Each test is tried in turn, as the file format has always been read: a key matched only
      // in part keeps what it read and lets the later tests look at the line too.
      if (ints("num_targets", "num_targets: %d to %d", &m.num_targets_min, &m.num_targets_max)) {
      } else if (ints("num_distracts", "num_distracts: %d to %d", &m.num_distracts_min,
                      &m.num_distracts_max)) {
      } else if (ints("num_instant_shifts", "num_instant_shifts: %d", &m.num_instant_shifts,
                      nullptr)) {
      } else if (ints("num_with_borders", "num_with_borders: %d", &m.num_with_borders, nullptr)) {
      } else if (ints("num_blank_wait", "num_blank_wait: %d", &m.num_blank_wait, nullptr)) {
      } else if (strncmp(s, "rotation_angles", 15) == 0) {
        list("rotation_angles", m.rotation_angles, &m.num_rotation_angles, "angle_end:");
      } else if (strncmp(s, "wait_lengths:", 13) == 0) {
        list("wait_lengths", m.wait_lengths, &m.num_wait_lengths, "length_end:");
      } else if (strncmp(s, "target_distract_sets:", 21) == 0) {
        sets();
      } else if (ints("num_trials_per_set", "num_trials_per_set: %d", &m.num_trials_per_set,
                      nullptr)) {
      } else if (number("depth_sep", "depth_sep: %f", &m.depth_sep)) {
        // A grid beyond the 512-texel textures, or of no cells, cannot be laid out.
      } else if (ints("num_x", "num_x: %d", &m.num_x, nullptr, 512)) {
      } else if (ints("num_y", "num_y: %d", &m.num_y, nullptr, 512)) {
      } else if (ints("borderwidth", "borderwidth: %d", &m.borderwidth, nullptr)) {
      } else if (strncmp(s, "discolsetstart:", 15) == 0) {
        colours("discolsetstart", &m.discol, &m.num_discol);
      } else if (number("watch_length", "watch_length: %f", &m.watch_length)) {
      } else if (number("shift_length", "shift_length: %f", &m.shift_length)) {
      } else if (number("rotate_length", "rotate_length: %f", &m.rotate_length)) {
      } else if (strncmp(s, "tarcolsetstart:", 15) == 0) {
        colours("tarcolsetstart", &m.tarcol, &m.num_tarcol);
      } else if (onoff("shuffle_angles", "shuffle_angles: %d", &m.shuffle_angles)) {
      } else if (!partial) {
        tell(settingsnote::nomatch, "");
      }
    }
  }
};

}  // namespace

void readsettings(maphdl& m, FILE* in, settingsobserver* watcher) {
  settingsreading reading(m, in, watcher);
  reading.run();
}

namespace {

// At run time only the refusals are worth a word: everything else the file has always done
// silently, and the subject is waiting.
class refusalprinter : public settingsobserver {
 public:
  explicit refusalprinter(const char* name) : name_(name) {}
  void note(const settingsevent& e) override {
    if (e.what == settingsnote::refused) printf("%s:%d: %s\n", name_, e.line, e.message);
  }

 private:
  const char* name_;  // full name of the settings file
};

}  // namespace

void maphdl::loadsettings(const char* name) {
  char full[256];
  int len = snprintf(full, sizeof full, "%s/%s", path, name);
  if (len < 0 || len >= static_cast<int>(sizeof full)) {
    // A cut name could open some other file; such a name is not found.
    printf("settings file name longer than 255 characters\n");
    printf("error, file not found! %s/%s\n", path, name);
    printf("using defaults\n");
    return;
  }
  FILE* in = fopen(full, "r");
  if (!in) {
    printf("error, file not found! %s\n", full);
    printf("using defaults\n");
    return;
  }
  refusalprinter printer(full);
  readsettings(*this, in, &printer);
  fclose(in);
  // Once the whole trial set is built, wherever the line stood: a seed of its own, so that the
  // order follows from the seed recorded for the run and the design alone.
  if (shuffle_angles) {
    reseed();
    shuffle_seed = lastseed;
    shufflepools(&angle_pools);
  }
}
