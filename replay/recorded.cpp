// recorded: see recorded.h. Owns the reading of the four files of a run; the formats
// themselves are written by run/records.cpp (results files), the settings reader (echo) and
// the event log's writer.
#include "replay/recorded.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "model/map.h"

namespace {

// ---- small parsers: the whole text must be the number ----

// A decimal number as the program prints it: an optional minus, digits, an optional fraction
// and exponent. Nothing else: no blank, sign '+', hexadecimal, "inf" or NUL around it.
bool decimal(const std::string& s, bool whole) {
  size_t i = s.size() > 1 && s[0] == '-' ? 1 : 0;
  const size_t digits = i;
  while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) i++;
  if (i == digits) return false;
  if (whole) return i == s.size();
  if (i < s.size() && s[i] == '.') {
    const size_t fraction = ++i;
    while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) i++;
    if (i == fraction) return false;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    if (++i < s.size() && (s[i] == '+' || s[i] == '-')) i++;
    const size_t exponent = i;
    while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) i++;
    if (i == exponent) return false;
  }
  return i == s.size();
}

bool toint(const std::string& s, int* v) {
  if (!decimal(s, true) || s.size() > 12) return false;
  const long long n = strtoll(s.c_str(), nullptr, 10);
  if (n < INT32_MIN || n > INT32_MAX) return false;
  *v = static_cast<int>(n);
  return true;
}

bool tounsigned(const std::string& s, unsigned* v) {
  if (!decimal(s, true) || s[0] == '-' || s.size() > 11) return false;
  const unsigned long long n = strtoull(s.c_str(), nullptr, 10);
  if (n > UINT32_MAX) return false;
  *v = static_cast<unsigned>(n);
  return true;
}

bool todouble(const std::string& s, double* v) {
  if (!decimal(s, false)) return false;
  const double d = strtod(s.c_str(), nullptr);
  if (!std::isfinite(d)) return false;
  *v = d;
  return true;
}

bool tofloat(const std::string& s, float* v) {
  if (!decimal(s, false)) return false;
  const float f = strtof(s.c_str(), nullptr);
  if (!std::isfinite(f)) return false;
  *v = f;
  return true;
}

// A value read from a file, for a message: at most 40 characters, bytes outside printable
// ASCII as '?'.
std::string excerpt(const std::string& s) {
  std::string e;
  for (size_t i = 0; i < s.size() && i < 40; i++) e += s[i] >= 0x20 && s[i] < 0x7f ? s[i] : '?';
  return s.size() > 40 ? e + "..." : e;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = s.find(sep, from);
    parts.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// The text's lines without their LF; `complete` tells whether the last one had its LF.
struct lines {
  std::vector<std::string> all;
  bool complete = true;

  explicit lines(const std::string& text) {
    if (text.empty()) return;
    all = split(text, '\n');
    if (all.back().empty())
      all.pop_back();
    else
      complete = false;
  }
};

std::string at(const std::string& name, int line) {
  return name + ":" + std::to_string(line) + ": ";
}

const char* const cut_short = "cut short (the run was stopped while writing it); left out";

bool fail(std::string* problem, const std::string& text) {
  *problem = text;
  return false;
}

// ---- tab results file ----

const char* const tab_header =
    "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\t"
    "targets hit\tdistracts hit\tempty hit\ttotal hit";

// Settings the echo may hold that do not change a trial's picture.
const char* const other_keys[] = {"num_targets",      "num_distracts",  "num_instant_shifts",
                                  "num_with_borders", "num_blank_wait", "num_trials_per_set",
                                  "watch_length",     "shift_length",   "rotate_length"};

// Columns 1 to 8 of a trial, as both results files give them: the flags 0 or 1.
bool readstart(const std::vector<std::string>& f, recordstart* r) {
  auto flag = [](const std::string& s, int* v) { return toint(s, v) && (*v == 0 || *v == 1); };
  return f.size() >= 8 && toint(f[0], &r->trial) && toint(f[1], &r->targets) &&
         toint(f[2], &r->distracts) && flag(f[3], &r->borders) && flag(f[4], &r->blank) &&
         flag(f[5], &r->instant) && tofloat(f[6], &r->wait_length) &&
         tofloat(f[7], &r->rotate_angle);
}

// Columns 9 to 12.
bool readhits(const std::vector<std::string>& f, recordhits* h) {
  return f.size() >= 4 && tofloat(f[0], &h->targets) && tofloat(f[1], &h->distracts) &&
         tofloat(f[2], &h->empty) && tofloat(f[3], &h->total);
}

bool istriple(const std::vector<std::string>& f, std::vector<unsigned char>* set) {
  int c[3];
  if (f.size() != 3) return false;
  for (int i = 0; i < 3; i++)
    if (!toint(f[i], &c[i]) || c[i] < 0 || c[i] > 255) return false;
  for (int v : c) set->push_back(static_cast<unsigned char>(v));
  return true;
}

bool readecho(const std::string& name, const std::vector<std::string>& all, size_t header,
              echoedsettings* s, std::string* problem) {
  std::vector<unsigned char>* colours = nullptr;  // the colour block being read
  for (size_t i = 0; i < header; i++) {
    const std::vector<std::string> f = split(all[i], '\t');
    const int line = static_cast<int>(i) + 1;
    if (colours && istriple(f, colours)) continue;
    colours = nullptr;
    const std::string& key = f[0];
    if (f.size() == 1 && (key == "tarcolsetstart" || key == "discolsetstart")) {
      // A block gives the whole set, as the reader stores it.
      std::optional<std::vector<unsigned char>>& set = key[0] == 't' ? s->tarcol : s->discol;
      set.emplace();
      colours = &*set;
      continue;
    }
    bool known = false;
    const bool shaping =
        key == "num_x" || key == "num_y" || key == "borderwidth" || key == "depth_sep";
    if (shaping && f.size() != 2)
      return fail(problem, at(name, line) + key + " without its one value");
    if (f.size() == 2) {
      int v;
      float x;
      if ((key == "num_x" || key == "num_y") && toint(f[1], &v)) {
        if (v < 1 || v > max_grid)
          return fail(problem, at(name, line) + key + " " + f[1] + " is outside 1 to " +
                                   std::to_string(max_grid) + ", the grids the program lays out");
        (key == "num_x" ? s->num_x : s->num_y) = v;
        known = true;
      } else if (key == "borderwidth" && toint(f[1], &v))
        s->borderwidth = v, known = true;
      else if (key == "depth_sep" && tofloat(f[1], &x))
        s->depth_sep = x, known = true;
    }
    if (shaping && !known)
      return fail(problem, at(name, line) + key + " \"" + excerpt(f[1]) + "\" is not " +
                               (key == "depth_sep" ? "a number" : "a whole number"));
    for (const char* other : other_keys) known = known || key == other;
    if (!known)
      return fail(problem, at(name, line) + "neither an echoed setting nor the header line");
  }
  return true;
}

}  // namespace

void applysettings(const echoedsettings& s, maphdl& m) {
  if (s.num_x) m.num_x = *s.num_x;
  if (s.num_y) m.num_y = *s.num_y;
  if (s.borderwidth) m.borderwidth = std::clamp(*s.borderwidth, -max_ring, max_ring);
  if (s.depth_sep) m.depth_sep = *s.depth_sep;
  auto colours = [](const std::optional<std::vector<unsigned char>>& given, unsigned char** set,
                    int* entries) {
    if (!given) return;
    delete[] * set;
    *set = nullptr;
    *entries = static_cast<int>(given->size() / 3);
    if (*entries == 0) return;  // the layout puts its default colour in
    *set = new unsigned char[given->size()];
    std::copy(given->begin(), given->end(), *set);
  };
  colours(s.tarcol, &m.tarcol, &m.num_tarcol);
  colours(s.discol, &m.discol, &m.num_discol);
}

bool readtab(const std::string& name, const std::string& text, tabfile* out, std::string* problem) {
  *out = tabfile();
  const lines l(text);
  size_t header = 0;
  while (header < l.all.size() && l.all[header] != tab_header) header++;
  if (header == l.all.size())
    return fail(problem, name +
                             ": no header line (\"trial<TAB>targets...\"): not a tab results "
                             "file, or one cut short before its first trial");
  if (!readecho(name, l.all, header, &out->settings, problem)) return false;
  for (size_t i = header + 1; i < l.all.size(); i++) {
    const int line = static_cast<int>(i) + 1;
    const std::string& s = l.all[i];
    if (s.rfind("Trying to POP from an empty vector : ", 0) == 0) continue;
    std::vector<std::string> f = split(s, '\t');
    const bool last = i + 1 == l.all.size();
    // Every value is followed by a tab: 8 values at 'g', 12 once 's' has been pressed; a
    // line of 8 has no line end, since it can only be the last of a killed run.
    if (f.back().empty()) f.pop_back();
    tabtrial t = {line, {}, f.size() == 12, {}};
    const bool shaped = f.size() == 12 || (f.size() == 8 && last && !l.complete);
    if (!shaped || !readstart(f, &t.start) ||
        (t.finished && !readhits(std::vector<std::string>(f.begin() + 8, f.end()), &t.hits))) {
      if (last && !l.complete) {
        out->notes.push_back(at(name, line) + cut_short);
        break;
      }
      return fail(problem, at(name, line) + "not a trial record");
    }
    const recordstart& r = t.start;
    if (r.trial != static_cast<int>(out->trials.size()) + 1)
      return fail(problem, at(name, line) + "trial " + f[0] + " where trial " +
                               std::to_string(out->trials.size() + 1) + " should follow");
    out->trials.push_back(t);
  }
  return true;
}

// ---- coordinate results file ----

namespace {

// Reads the fixed-width columns of one line: a value left-aligned in 13 characters and one
// space; a value longer than 13 pushes the rest of the line on by its excess. A column that is
// neither blank nor a value at its start reads as "?", which no number parser takes.
struct columns {
  const std::string& s;
  size_t p = 0;

  explicit columns(const std::string& line) : s(line) {}
  bool atend() const { return p >= s.size(); }
  // The next column's value, "" for a blank one.
  std::string next() {
    const size_t first = s.find_first_not_of(' ', p);
    if (first == std::string::npos || first >= p + 13) {
      p += 14;
      return "";
    }
    if (first != p) {
      p = s.size();
      return "?";
    }
    size_t end = s.find(' ', p);
    if (end == std::string::npos) end = s.size();
    std::string v = s.substr(p, end - p);
    p += std::max<size_t>(13, v.size()) + 1;
    return v;
  }
};

// A click's grid position as %f prints it: a number, or "nan" / "-nan" for a click the hit
// test could not place.
bool toposition(const std::string& s, double* v) {
  if (s == "nan" || s == "-nan") {
    *v = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  return todouble(s, v);
}

// Columns 13 to 18 of one row: the click and the cells, when given, go to the trial's lists.
bool readrow(columns& c, coordtrial* t) {
  std::string v[6];
  for (std::string& x : v) x = c.next();
  for (int k = 0; k < 3; k++) {
    const std::string& x = v[2 * k];
    const std::string& y = v[2 * k + 1];
    if (x.empty() != y.empty()) return false;
    if (x.empty()) continue;
    if (k == 0) {
      std::pair<double, double> click;
      if (!toposition(x, &click.first) || !toposition(y, &click.second)) return false;
      t->clicks.push_back(click);
      continue;
    }
    std::pair<int, int> cell;
    if (!toint(x, &cell.first) || !toint(y, &cell.second)) return false;
    (k == 1 ? t->targets : t->distracts).push_back(cell);
  }
  return c.atend();
}

}  // namespace

bool readcoord(const std::string& name, const std::string& text, std::vector<coordtrial>* out,
               std::string* problem) {
  out->clear();
  const lines l(text);
  if (l.all.empty() || l.all[0].rfind("trial ", 0) != 0)
    return fail(problem, name + ": no header line: not a coordinate results file");
  // The record whose rows are being read: a record with rows ends with a line of blanks.
  const size_t none = static_cast<size_t>(-1);
  size_t open = none;
  for (size_t i = 1; i < l.all.size(); i++) {
    const int line = static_cast<int>(i) + 1;
    const std::string& s = l.all[i];
    const bool last = i + 1 == l.all.size();
    if (s.empty() || s[0] != ' ') {
      columns c(s);
      std::vector<std::string> v;
      while (v.size() < 12 && !c.atend()) {
        v.push_back(c.next());
        if (v.back().empty()) break;
      }
      coordtrial t = {};
      t.line = line;
      t.finished = v.size() == 12;
      // 8 values when killed before 's' (then the line is the file's last, without line end).
      const bool cut = last && !l.complete;  // a full disk may stop the run anywhere in it
      if ((!t.finished && !(v.size() == 8 && c.atend() && cut)) || !readstart(v, &t.start) ||
          (t.finished && !readhits(std::vector<std::string>(v.begin() + 8, v.end()), &t.hits))) {
        if (!cut) return fail(problem, at(name, line) + "not the first line of a trial's record");
        t = {};
        t.line = line, t.cut = true;
        t.start.trial = static_cast<int>(out->size()) + 1;
      }
      t.trial = t.start.trial;
      const bool rows = t.finished && !c.atend();
      if (rows && !readrow(c, &t)) {
        if (!cut) return fail(problem, at(name, line) + "the columns of a row do not read");
        t.cut = true;
      }
      t.cut = t.cut || (t.finished && cut);  // its rows, or its line end, never came
      if (t.trial != static_cast<int>(out->size()) + 1)
        return fail(problem, at(name, line) + "trial " + std::to_string(t.trial) + " where trial " +
                                 std::to_string(out->size() + 1) + " should follow");
      out->push_back(t);
      open = rows ? out->size() - 1 : none;
      continue;
    }
    if (open == none) return fail(problem, at(name, line) + "a row outside any trial's record");
    if (s.find_first_not_of(' ') == std::string::npos) {
      if (!(last && !l.complete)) open = none;  // the record's closing line, whole
      continue;
    }
    columns c(s);
    for (int k = 0; k < 12; k++)
      if (!c.next().empty())
        return fail(problem, at(name, line) + "a row that does not start with 12 blank columns");
    if (!readrow(c, &(*out)[open]) && !(last && !l.complete))
      return fail(problem, at(name, line) + "the columns of a row do not read");
  }
  // A record whose closing line never came was cut short, and lacks some of its cells: it
  // keeps none.
  if (open != none) (*out)[open].cut = true;
  for (coordtrial& t : *out)
    if (t.cut) t.finished = false, t.targets.clear(), t.distracts.clear(), t.clicks.clear();
  return true;
}

// ---- event log ----

const char* const log_columns[35] = {
    "onset",       "duration",        "trial",        "event",       "frame",        "frames",
    "set_length",  "frame_median_ms", "frame_max_ms", "late_frames", "targets",      "distractors",
    "borders",     "blank",           "instant",      "wait_length", "rotate_angle", "shift_x",
    "shift_y",     "layout_ms",       "seed_layout",  "seed_cells",  "x_px",         "y_px",
    "grid_x",      "grid_y",          "col",          "row",         "result",       "rt",
    "targets_hit", "distracts_hit",   "empty_hit",    "total_hit",   "score"};

namespace {

// One row of the log by column name, with typed access that reports what is wrong.
struct logrow {
  const std::string& name;
  int line;
  std::vector<std::string> f;
  std::string* problem;

  std::string field(const char* column) const {
    for (int i = 0; i < 35; i++)
      if (strcmp(log_columns[i], column) == 0) return f[i];
    return "";
  }
  bool bad(const char* column, const char* what = "a number") const {
    const std::string v = field(column);
    *problem = at(name, line) + excerpt(field("event")) + " row: " + column + " is " +
               (v == "n/a" ? std::string("n/a") : "\"" + excerpt(v) + "\"") + ", not " + what;
    if (v == "n/a" && strncmp(column, "seed_", 5) == 0)
      *problem += " (a log without seeds cannot be replayed)";
    return false;
  }
  bool get(const char* column, int* v) const { return toint(field(column), v) || bad(column); }
  bool get(const char* column, unsigned* v) const {
    return tounsigned(field(column), v) || bad(column);
  }
  bool get(const char* column, float* v) const { return tofloat(field(column), v) || bad(column); }
  bool get(const char* column, double* v) const {
    return todouble(field(column), v) || bad(column);
  }
  // n/a where the hit test had no position to give.
  bool position(const char* column, double* v) const {
    return toposition(field(column) == "n/a" ? "nan" : field(column), v) || bad(column);
  }
  bool frame(double* v) const {
    return (todouble(field("frame"), v) && *v >= 0 && *v < max_frame) ||
           bad("frame", "a frame count");
  }
};

bool readtrialstart(const logrow& r, loggedtrial* t) {
  recordstart& c = t->condition;
  t->picked = false;
  c.trial = t->trial;
  if (!r.frame(&t->start_frame) || !r.get("targets", &c.targets) ||
      !r.get("distractors", &c.distracts) || !r.get("borders", &c.borders) ||
      !r.get("blank", &c.blank) || !r.get("instant", &c.instant) ||
      !r.get("wait_length", &c.wait_length) || !r.get("rotate_angle", &c.rotate_angle) ||
      !r.get("shift_x", &t->shift_x) || !r.get("shift_y", &t->shift_y) ||
      !r.get("seed_layout", &t->seed_layout) || !r.get("seed_cells", &t->seed_cells))
    return false;
  if (std::abs(static_cast<long long>(t->shift_x)) + std::abs(static_cast<long long>(t->shift_y)) !=
      1)
    return fail(r.problem, at(r.name, r.line) + "trial_start row: the shift (" +
                               r.field("shift_x") + ", " + r.field("shift_y") +
                               ") is not one cell along an axis");
  return true;
}

// What a click row's result may be: the four the hit test answers, a click beside the grid,
// and a turn of the wheel.
const char* const click_results[] = {"target", "distractor", "empty",
                                     "repeat", "off_grid",   "wheel"};

}  // namespace

bool readlog(const std::string& name, const std::string& text, loggedevents* out,
             std::string* problem) {
  *out = loggedevents();
  lines l(text);
  // Later versions may add columns after these; they are read past.
  const std::vector<std::string> header =
      l.all.empty() ? std::vector<std::string>() : split(l.all[0], '\t');
  if (header.size() < 35 || !std::equal(log_columns, log_columns + 35, header.begin()))
    return fail(problem, name +
                             ": the first line is not the event log's header (onset, duration, "
                             "trial, ...)");
  if (!l.complete) {
    out->notes.push_back(at(name, static_cast<int>(l.all.size())) + cut_short);
    l.all.pop_back();
  }
  std::map<int, size_t> index;  // trial number -> its place in out->trials
  for (size_t i = 1; i < l.all.size(); i++) {
    logrow r = {name, static_cast<int>(i) + 1, split(l.all[i], '\t'), problem};
    if (r.f.size() != header.size())
      return fail(problem, at(name, r.line) + std::to_string(r.f.size()) +
                               " columns where the header has " + std::to_string(header.size()));
    int trial;
    if (!r.get("trial", &trial)) return false;
    const std::string event = r.field("event");
    if (event == "trial_start") {
      if (index.count(trial))
        return fail(problem,
                    at(name, r.line) + "a second trial_start for trial " + std::to_string(trial));
      loggedtrial t = {};
      t.trial = trial;
      t.line = r.line;
      if (!readtrialstart(r, &t)) return false;
      index[trial] = out->trials.size();
      out->trials.push_back(t);
      continue;
    }
    // The last four: a browser's page left full screen or was hidden, and came back.
    // clang-format off
    static const char* const known[] = {
        "WATCH", "SHIFT", "ROTATE", "WAIT", "PICK", "click", "early", "trial_end",
        "fullscreen_left", "fullscreen_back", "page_hidden", "page_shown"};
    // clang-format on
    if (std::find_if(std::begin(known), std::end(known),
                     [&](const char* e) { return event == e; }) == std::end(known))
      return fail(problem, at(name, r.line) + "unknown event \"" + excerpt(event) + "\"");
    const auto found = index.find(trial);
    if (found == index.end())
      return fail(problem, at(name, r.line) + event + " row of trial " + std::to_string(trial) +
                               ", which has no trial_start before it");
    loggedtrial& t = out->trials[found->second];
    if (event == "WATCH") {
      double frame = 0;
      if (!r.frame(&frame)) return false;
      t.watch_frame = frame;
    } else if (event == "PICK") {
      t.picked = true;
    } else if (event == "click") {
      loggedclick c = {r.line, 0, 0, 0, 0, 0, 0, r.field("result")};
      if (std::find(std::begin(click_results), std::end(click_results), c.result) ==
          std::end(click_results))
        return fail(problem, at(name, r.line) + "click row: result \"" + excerpt(c.result) + "\"" +
                                 " is none of target, distractor, empty, repeat, off_grid, "
                                 "wheel");
      if (c.result == "wheel") continue;  // never a click of the click list
      if (!r.get("x_px", &c.x_px) || !r.get("y_px", &c.y_px) || !r.position("grid_x", &c.grid_x) ||
          !r.position("grid_y", &c.grid_y) || !r.get("col", &c.col) || !r.get("row", &c.row))
        return false;
      t.clicks.push_back(c);
    } else if (event == "trial_end") {
      double score = 0;
      if (!r.get("score", &score)) return false;
      t.score = score;
    }
    // An early row (input before PICK was on screen) did nothing, and shows nothing; nor does a
    // row of the page's.
  }
  return true;
}

// ---- sidecar ----

namespace {

// The length of the valid UTF-8 sequence at s[i] (no overlong form, no surrogate, at most
// U+10FFFF), or 0 when the byte there starts none.
size_t utf8length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  size_t n;
  unsigned lo = 0x80, hi = 0xbf;  // the range of the second byte
  if (c >= 0xc2 && c <= 0xdf)
    n = 2;
  else if (c >= 0xe0 && c <= 0xef)
    n = 3, lo = c == 0xe0 ? 0xa0 : 0x80, hi = c == 0xed ? 0x9f : 0xbf;
  else if (c >= 0xf0 && c <= 0xf4)
    n = 4, lo = c == 0xf0 ? 0x90 : 0x80, hi = c == 0xf4 ? 0x8f : 0xbf;
  else
    return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; k++) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xbf)) return 0;
  }
  return n;
}

// The text with every byte that is not part of valid UTF-8 written as \u00XX, as later
// writers do: inside a string it then reads as that Latin-1 character; anywhere else the JSON
// was not valid anyway.
std::string escapedutf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t n = utf8length(text, i);
    if (n > 0) {
      out.append(text, i, n);
      i += n;
      continue;
    }
    char escape[8];
    snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[i]));
    out += escape;
    i++;
  }
  return out;
}

}  // namespace

bool readsidecar(const std::string& name, const std::string& text, sidecar* out,
                 std::string* problem) {
  *out = sidecar();
  const nlohmann::json doc = nlohmann::json::parse(escapedutf8(text), nullptr, false);
  if (doc.is_discarded() || !doc.is_object())
    return fail(problem, name + ": not a JSON object (cut short or damaged?)");
  const auto own = doc.find("spatialmemory");
  const nlohmann::json& j = own != doc.end() && own->is_object() ? *own : doc;
  // A whole number from lo to hi, or nothing.
  auto whole = [](const nlohmann::json& v, long long lo, long long hi, long long* n) {
    if (!v.is_number_integer()) return false;
    if (v.is_number_unsigned() && v.get<unsigned long long>() > static_cast<unsigned long long>(hi))
      return false;
    *n = v.get<long long>();
    return *n >= lo && *n <= hi;
  };
  auto size = [&](const char* key, int* v) {
    const auto it = j.find(key);
    long long n;
    if (it == j.end() || !whole(*it, 1, max_screen, &n))
      return fail(problem, name + ": " + key + " is missing or not a size in pixels from 1 to " +
                               std::to_string(max_screen));
    *v = static_cast<int>(n);
    return true;
  };
  if (!size("screen_width", &out->screen_width) || !size("screen_height", &out->screen_height))
    return false;
  const auto vp = j.find("viewport");
  if (vp != j.end()) {
    long long v[4];
    bool ok = vp->is_array() && vp->size() == 4;
    for (size_t i = 0; ok && i < 4; i++) ok = whole((*vp)[i], -max_screen, max_screen, &v[i]);
    if (!ok) return fail(problem, name + ": viewport is not [x, y, width, height] in pixels");
    if (v[2] <= 0 || v[3] <= 0) return fail(problem, name + ": viewport has no area");
    if (v[0] < 0 || v[1] < 0 || v[0] + v[2] > out->screen_width || v[1] + v[3] > out->screen_height)
      return fail(problem, name + ": viewport lies outside the screen");
    out->viewport = std::vector<int>(v, v + 4);
  }
  return true;
}

// ---- the files of one run ----

bool runfilesfor(const std::string& results, runfiles* out, std::string* problem) {
  const size_t slash = results.rfind('/');
  const std::string base = slash == std::string::npos ? results : results.substr(slash + 1);
  out->folder = slash == std::string::npos ? "" : results.substr(0, slash + 1);
  const std::string digits = base.size() > 11 ? base.substr(7, base.size() - 11) : "";
  int n;
  if (base.rfind("results", 0) != 0 || base.size() <= 11 ||
      base.compare(base.size() - 4, 4, ".txt") != 0 ||
      !isdigit(static_cast<unsigned char>(digits[0])) || !toint(digits, &n) ||
      std::to_string(n) != digits)
    return fail(problem, results + ": not a tab results file name (results<N>.txt)");
  out->number = n;
  out->tab = results;
  out->coord = out->folder + "results_coord" + digits + ".txt";
  out->log = out->folder + "results_events" + digits + ".tsv";
  out->sidecar = out->folder + "results_events" + digits + ".json";
  return true;
}

bool slurp(const std::string& name, std::string* text, std::string* problem) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return fail(problem, name + ": " + strerror(errno));
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) return fail(problem, name + ": cannot be read");
  *text = all.str();
  return true;
}

namespace {

bool samestart(const recordstart& a, const recordstart& b) {
  return a.trial == b.trial && a.targets == b.targets && a.distracts == b.distracts &&
         a.borders == b.borders && a.blank == b.blank && a.instant == b.instant &&
         a.wait_length == b.wait_length && a.rotate_angle == b.rotate_angle;
}

bool samehits(const recordhits& a, const recordhits& b) {
  return a.targets == b.targets && a.distracts == b.distracts && a.empty == b.empty &&
         a.total == b.total;
}

// The spots of a click list that are numbers, sorted, each once: what the coordinate file's
// clicks X and Y hold of them. (A position the hit test could not place is left out on both
// sides: versions differ in whether it was listed.)
std::vector<std::pair<double, double>> spots(std::vector<std::pair<double, double>> clicks) {
  clicks.erase(std::remove_if(clicks.begin(), clicks.end(),
                              [](const std::pair<double, double>& c) {
                                return std::isnan(c.first) || std::isnan(c.second);
                              }),
               clicks.end());
  std::sort(clicks.begin(), clicks.end());
  clicks.erase(std::unique(clicks.begin(), clicks.end()), clicks.end());
  return clicks;
}

}  // namespace

bool readrun(const std::string& results, recordedrun* out, std::string* problem) {
  runfiles& f = out->files;
  std::string tab, coord, log, side;
  if (!runfilesfor(results, &f, problem) || !slurp(f.tab, &tab, problem) ||
      !slurp(f.coord, &coord, problem) || !slurp(f.log, &log, problem) ||
      !slurp(f.sidecar, &side, problem) || !readtab(f.tab, tab, &out->tab, problem) ||
      !readcoord(f.coord, coord, &out->coord, problem) ||
      !readlog(f.log, log, &out->log, problem) ||
      !readsidecar(f.sidecar, side, &out->side, problem))
    return false;
  const std::vector<tabtrial>& trials = out->tab.trials;
  out->notes = out->tab.notes;
  // A trial whose tab line was cut short at 'g' may have reached the other files.
  const size_t begun = trials.size() + out->tab.notes.size();
  if (out->coord.size() == begun && begun > trials.size()) out->coord.pop_back();
  if (out->coord.size() != trials.size())
    return fail(problem, f.coord + ": " + std::to_string(out->coord.size()) + " trials where " +
                             f.tab + " has " + std::to_string(trials.size()));
  for (const coordtrial& c : out->coord)
    if (c.cut)
      out->notes.push_back(at(f.coord, c.line) + "cut short (the run was stopped while writing " +
                           "it); trial " + std::to_string(c.trial) + " is drawn as one cut short");
  out->notes.insert(out->notes.end(), out->log.notes.begin(), out->log.notes.end());
  if (out->log.trials.size() > begun)
    return fail(problem, f.log + ": " + std::to_string(out->log.trials.size()) + " trials where " +
                             f.tab + " has " + std::to_string(trials.size()));
  std::map<int, size_t> logged;  // trial number -> its place in the log's trials
  for (size_t i = 0; i < out->log.trials.size(); i++) logged[out->log.trials[i].trial] = i;
  out->logged.clear();
  for (size_t i = 0; i < trials.size(); i++) {
    const tabtrial& t = trials[i];
    const coordtrial& c = out->coord[i];
    const std::string which = "trial " + std::to_string(t.start.trial);
    const std::string there = " of " + f.tab + " line " + std::to_string(t.line);
    // Both results files are written at 'g' and at 's' alike; a kill between the two at 's'
    // leaves one of them finished, so the hits are compared where both have them.
    if ((!c.cut && !samestart(c.start, t.start)) ||
        (c.finished && t.finished && !samehits(c.hits, t.hits)))
      return fail(problem, at(f.coord, c.line) + which + "'s " +
                               (samestart(c.start, t.start) ? "hits differ from those"
                                                            : "condition differs from the one") +
                               there + ": the coordinate file is of another run");
    // The log and the tab file are flushed together at 'g': both hold every trial begun.
    const auto found = logged.find(t.start.trial);
    if (found == logged.end()) return fail(problem, f.log + ": no trial_start row for " + which);
    const loggedtrial& l = out->log.trials[found->second];
    if (!samestart(l.condition, t.start))
      return fail(problem, at(f.log, l.line) + which + " is not the one" + there +
                               ": the files are not of one run");
    // A trial the log ended has all its clicks there.
    if (l.score && c.finished) {
      std::vector<std::pair<double, double>> clicked;
      for (const loggedclick& k : l.clicks) clicked.emplace_back(k.grid_x, k.grid_y);
      const auto inlog = spots(clicked), incoord = spots(c.clicks);
      if (inlog != incoord)
        return fail(problem,
                    at(f.log, l.line) + which + "'s clicks (" + std::to_string(inlog.size()) +
                        " spots) are not those of " + f.coord + " line " + std::to_string(c.line) +
                        " (" + std::to_string(incoord.size()) + "): the files are not of one run");
    }
    out->logged.push_back(found->second);
  }
  return true;
}
