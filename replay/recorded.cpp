// recorded: see recorded.h. Owns the reading of the four files of a run; the formats
// themselves are written by run/records.cpp (results files), the settings reader (echo) and
// the event log's writer.
#include "replay/recorded.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "model/map.h"

namespace {

// ---- small parsers: the whole text must be the number ----

bool toint(const std::string& s, int* v) {
  if (s.empty() || isspace(static_cast<unsigned char>(s[0]))) return false;
  char* end = nullptr;
  errno = 0;
  long n = strtol(s.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return false;
  *v = static_cast<int>(n);
  return true;
}

bool tounsigned(const std::string& s, unsigned* v) {
  if (s.empty() || !isdigit(static_cast<unsigned char>(s[0]))) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long n = strtoul(s.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || n > UINT32_MAX) return false;
  *v = static_cast<unsigned>(n);
  return true;
}

bool todouble(const std::string& s, double* v) {
  if (s.empty() || isspace(static_cast<unsigned char>(s[0]))) return false;
  char* end = nullptr;
  double d = strtod(s.c_str(), &end);
  if (*end != '\0' || !std::isfinite(d)) return false;
  *v = d;
  return true;
}

bool tofloat(const std::string& s, float* v) {
  if (s.empty() || isspace(static_cast<unsigned char>(s[0]))) return false;
  char* end = nullptr;
  float f = strtof(s.c_str(), &end);
  if (*end != '\0' || !std::isfinite(f)) return false;
  *v = f;
  return true;
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
    if (f.size() == 2) {
      int v;
      float x;
      if (key == "num_x" && toint(f[1], &v))
        s->num_x = v, known = true;
      else if (key == "num_y" && toint(f[1], &v))
        s->num_y = v, known = true;
      else if (key == "borderwidth" && toint(f[1], &v))
        s->borderwidth = v, known = true;
      else if (key == "depth_sep" && tofloat(f[1], &x))
        s->depth_sep = x, known = true;
    }
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
  if (s.borderwidth) m.borderwidth = *s.borderwidth;
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
    recordstart& r = t.start;
    if (!shaped || !toint(f[0], &r.trial) || !toint(f[1], &r.targets) ||
        !toint(f[2], &r.distracts) || !toint(f[3], &r.borders) || !toint(f[4], &r.blank) ||
        !toint(f[5], &r.instant) || !tofloat(f[6], &r.wait_length) ||
        !tofloat(f[7], &r.rotate_angle) ||
        (t.finished && (!tofloat(f[8], &t.hits.targets) || !tofloat(f[9], &t.hits.distracts) ||
                        !tofloat(f[10], &t.hits.empty) || !tofloat(f[11], &t.hits.total))))
      return fail(problem, at(name, line) + "not a trial record");
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

// Columns 13 to 18 of one row: the cells, when given, go to the trial's lists.
bool readrow(columns& c, coordtrial* t) {
  std::string v[6];
  for (std::string& x : v) x = c.next();
  double d;
  for (int i = 0; i < 2; i++)
    if (!v[i].empty() && !todouble(v[i], &d) && v[i] != "nan" && v[i] != "-nan") return false;
  for (int k = 0; k < 2; k++) {
    const std::string& x = v[2 + 2 * k];
    const std::string& y = v[3 + 2 * k];
    if (x.empty() != y.empty()) return false;
    if (x.empty()) continue;
    std::pair<int, int> cell;
    if (!toint(x, &cell.first) || !toint(y, &cell.second)) return false;
    (k == 0 ? t->targets : t->distracts).push_back(cell);
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
  coordtrial* open = nullptr;  // the record whose rows are being read
  for (size_t i = 1; i < l.all.size(); i++) {
    const int line = static_cast<int>(i) + 1;
    const std::string& s = l.all[i];
    const bool last = i + 1 == l.all.size();
    if (s.empty() || s[0] != ' ') {
      columns c(s);
      std::string v[12];
      int given = 0;
      for (std::string& x : v)
        if (!c.atend() && !(x = c.next()).empty()) given++;
      coordtrial t = {line, 0, given == 12, {}, {}};
      // 8 values when killed before 's' (then the line is the file's last, without line end).
      if (!toint(v[0], &t.trial) || (given != 12 && !(given == 8 && last && !l.complete)))
        return fail(problem, at(name, line) + "not the first line of a trial's record");
      if (t.finished && !c.atend() && !readrow(c, &t))
        return fail(problem, at(name, line) + "the columns of a row do not read");
      if (t.trial != static_cast<int>(out->size()) + 1)
        return fail(problem, at(name, line) + "trial " + v[0] + " where trial " +
                                 std::to_string(out->size() + 1) + " should follow");
      out->push_back(t);
      open = t.finished ? &out->back() : nullptr;
      continue;
    }
    if (!open) return fail(problem, at(name, line) + "a row outside any trial's record");
    if (s.find_first_not_of(' ') == std::string::npos) {
      open = nullptr;  // the record's closing line
      continue;
    }
    columns c(s);
    for (int k = 0; k < 12; k++)
      if (!c.next().empty())
        return fail(problem, at(name, line) + "a row that does not start with 12 blank columns");
    if (!readrow(c, open))
      return fail(problem, at(name, line) + "the columns of a row do not read");
  }
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
  bool bad(const char* column) const {
    const std::string v = field(column);
    *problem = at(name, line) + field("event") + " row: " + column + " is " +
               (v == "n/a" ? std::string("n/a") : "\"" + v + "\"") + ", not a number";
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
};

bool readstart(const logrow& r, loggedtrial* t) {
  recordstart& c = t->condition;
  t->picked = false;
  c.trial = t->trial;
  if (!r.get("frame", &t->start_frame) || !r.get("targets", &c.targets) ||
      !r.get("distractors", &c.distracts) || !r.get("borders", &c.borders) ||
      !r.get("blank", &c.blank) || !r.get("instant", &c.instant) ||
      !r.get("wait_length", &c.wait_length) || !r.get("rotate_angle", &c.rotate_angle) ||
      !r.get("shift_x", &t->shift_x) || !r.get("shift_y", &t->shift_y) ||
      !r.get("seed_layout", &t->seed_layout) || !r.get("seed_cells", &t->seed_cells))
    return false;
  if (std::abs(t->shift_x) + std::abs(t->shift_y) != 1)
    return fail(r.problem, at(r.name, r.line) + "trial_start row: the shift (" +
                               r.field("shift_x") + ", " + r.field("shift_y") +
                               ") is not one cell along an axis");
  return true;
}

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
    out->notes.push_back(at(name, static_cast<int>(l.all.size())) +
                         "cut short (the run was stopped while writing it); left out");
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
      if (!readstart(r, &t)) return false;
      index[trial] = out->trials.size();
      out->trials.push_back(t);
      continue;
    }
    static const char* const known[] = {"WATCH", "SHIFT", "ROTATE", "WAIT",
                                        "PICK",  "early", "click",  "trial_end"};
    if (std::find_if(std::begin(known), std::end(known),
                     [&](const char* e) { return event == e; }) == std::end(known))
      return fail(problem, at(name, r.line) + "unknown event \"" + event + "\"");
    if (!index.count(trial))
      return fail(problem, at(name, r.line) + event + " row of trial " + std::to_string(trial) +
                               ", which has no trial_start before it");
    loggedtrial& t = out->trials[index[trial]];
    if (event == "WATCH") {
      double frame;
      if (!r.get("frame", &frame)) return false;
      t.watch_frame = frame;
    } else if (event == "PICK") {
      t.picked = true;
    } else if (event == "click" && r.field("result") != "wheel") {
      // Input before PICK (early) and the wheel were never clicks: nothing to mark.
      loggedclick c = {r.line, 0, 0, 0, 0, r.field("result")};
      if (!r.get("x_px", &c.x_px) || !r.get("y_px", &c.y_px) || !r.get("col", &c.col) ||
          !r.get("row", &c.row))
        return false;
      if (c.result != "target" && c.result != "distractor" && c.result != "empty" &&
          c.result != "repeat" && c.result != "off_grid")
        return fail(problem, at(name, r.line) + "click row: result \"" + c.result +
                                 "\" is none of target, distractor, empty, repeat, off_grid, "
                                 "wheel");
      t.clicks.push_back(c);
    } else if (event == "trial_end") {
      double score;
      if (!r.get("score", &score)) return false;
      t.score = score;
    }
  }
  return true;
}

// ---- sidecar ----

bool readsidecar(const std::string& name, const std::string& text, sidecar* out,
                 std::string* problem) {
  *out = sidecar();
  nlohmann::json whole = nlohmann::json::parse(text, nullptr, false);
  if (whole.is_discarded() || !whole.is_object())
    return fail(problem, name + ": not a JSON object (cut short or damaged?)");
  // The run's facts stand in an object of their own since the sidecar became a BIDS sidecar;
  // earlier sidecars hold them at the top.
  const auto own = whole.find("spatialmemory");
  const nlohmann::json& j = own != whole.end() && own->is_object() ? *own : whole;
  auto size = [&](const char* key, int* v) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer() || it->get<long long>() <= 0 ||
        it->get<long long>() > 1 << 16)
      return fail(problem, name + ": " + key + " is missing or not a size in pixels");
    *v = it->get<int>();
    return true;
  };
  if (!size("screen_width", &out->screen_width) || !size("screen_height", &out->screen_height))
    return false;
  const auto vp = j.find("viewport");
  if (vp != j.end()) {
    bool ok = vp->is_array() && vp->size() == 4;
    for (size_t i = 0; ok && i < 4; i++) ok = (*vp)[i].is_number_integer();
    if (!ok) return fail(problem, name + ": viewport is not [x, y, width, height]");
    out->viewport = vp->get<std::vector<int>>();
    if ((*out->viewport)[2] <= 0 || (*out->viewport)[3] <= 0)
      return fail(problem, name + ": viewport has no area");
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
  if (out->coord.size() != trials.size())
    return fail(problem, f.coord + ": " + std::to_string(out->coord.size()) + " trials where " +
                             f.tab + " has " + std::to_string(trials.size()));
  // The log and the tab file are flushed together at 'g': both hold every trial begun.
  for (const tabtrial& t : trials) {
    const loggedtrial* l = nullptr;
    for (const loggedtrial& x : out->log.trials)
      if (x.trial == t.start.trial) l = &x;
    const std::string which = "trial " + std::to_string(t.start.trial);
    if (!l) return fail(problem, f.log + ": no trial_start row for " + which);
    const recordstart& a = t.start;
    const recordstart& b = l->condition;
    if (a.targets != b.targets || a.distracts != b.distracts || a.borders != b.borders ||
        a.blank != b.blank || a.instant != b.instant || a.wait_length != b.wait_length ||
        a.rotate_angle != b.rotate_angle)
      return fail(problem, at(f.log, l->line) + which + " is not the one of " + f.tab + " line " +
                               std::to_string(t.line) + ": the files are not of one run");
  }
  if (out->log.trials.size() > trials.size())
    return fail(problem, f.log + ": " + std::to_string(out->log.trials.size()) + " trials where " +
                             f.tab + " has " + std::to_string(trials.size()));
  return true;
}
