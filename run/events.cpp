// events: see events.h. Owns every byte of the event log and its sidecar, the frame statistics
// and the order of a trial's rows; the run decides when each row is due and when the files are
// flushed.
#include "run/events.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "foundation/sha256.h"
#include "model/map.h"
#include "presentation/platform.h"

eventlog events;

const eventcolumninfo event_column_info[event_columns] = {
    {"onset",
     "when the event began: for a phase, the clock read right after the buffer swap "
     "of its first frame; for a click, when the program received it; for trial_start, "
     "when the layout was done; for trial_end, when 's' was received",
     "s"},
    {"duration",
     "phases only: from the onset to the swap of the next phase's first frame "
     "(PICK: to 's')",
     "s"},
    {"trial", "the trial's number, as in the results files (1 = first)", nullptr},
    {"event", "what the row records", nullptr},
    {"frame",
     "the display's frame counter at the event; for a phase, the count its first frame "
     "was drawn with, which sets the sway of WATCH",
     nullptr},
    {"frames", "phases only: frames shown in the phase", nullptr},
    {"set_length", "WATCH, SHIFT, ROTATE, WAIT: the length the settings asked for", "s"},
    {"frame_median_ms", "phases only: median interval between buffer swaps in the phase", "ms"},
    {"frame_max_ms", "phases only: longest interval between buffer swaps in the phase", "ms"},
    {"late_frames", "phases only: frames whose interval exceeded 1.5 times the phase's median",
     nullptr},
    {"targets", "trial_start: number of targets", nullptr},
    {"distractors", "trial_start: number of distractors", nullptr},
    {"borders", "trial_start: 1 when the holes had coloured rings", nullptr},
    {"blank", "trial_start: 1 when the screen was blank during WAIT", nullptr},
    {"instant", "trial_start: 1 when the shift was instant", nullptr},
    {"wait_length", "trial_start: the trial's WAIT length", "s"},
    {"rotate_angle", "trial_start: the rotation reached in ROTATE", "degrees"},
    {"shift_x", "trial_start: the shift direction across, one of -1, 0, 1", "cells"},
    {"shift_y", "trial_start: the shift direction up, one of -1, 0, 1", "cells"},
    {"layout_ms", "trial_start: time the layout of the trial's map took", "ms"},
    {"seed_layout",
     "trial_start: the seed of the program's generator (glibc's rand sequence) at the start of the "
     "layout",
     nullptr},
    {"seed_cells",
     "trial_start: the seed of the program's generator when the candidate pool was made", nullptr},
    {"x_px", "click, early: window x as the toolkit gave it, from the left", "px"},
    {"y_px", "click, early: window y as the toolkit gave it, from the top", "px"},
    {"grid_x", "click: position across the layer beneath, as the coordinate file's clicks X",
     "cells"},
    {"grid_y", "click: position up the layer beneath, as the coordinate file's clicks Y", "cells"},
    {"col",
     "click: the column the hit test used, grid_x rounded down; outside 0 to num_x - 1 the click "
     "was off the grid",
     nullptr},
    {"row",
     "click: the row the hit test used, grid_y rounded down; outside 0 to num_y - 1 the click "
     "was off the grid",
     nullptr},
    {"result", "click: what the clicked cell held, or why the click scored nothing", nullptr},
    {"rt",
     "click: time since PICK's onset, never negative; clicks are seen between frames, so to "
     "about a frame",
     "s"},
    {"targets_hit", "trial_end: target cells clicked, as the tab results file", nullptr},
    {"distracts_hit", "trial_end: distractor cells clicked, as the tab results file", nullptr},
    {"empty_hit", "trial_end: other cells clicked, as the tab results file", nullptr},
    {"total_hit", "trial_end: all cells clicked, each once, as the tab results file", nullptr},
    {"score", "trial_end: targets_hit - distracts_hit - empty_hit", nullptr},
    {"button",
     "click, early: the mouse button as the toolkit numbers it: 0 left, 1 middle, 2 right, "
     "3 and 4 the wheel turned up and down",
     nullptr},
    {"action", "click, early: whether the button went down or came up", nullptr},
    {"key", "early: the key typed before PICK was shown", nullptr},
};

namespace {

const char* const phase_names[6] = {"", "WATCH", "SHIFT", "ROTATE", "WAIT", "PICK"};
const char* const result_names[6] = {"target", "distractor", "empty",
                                     "repeat", "off_grid",   "wheel"};
// The rows of a pagechange, by its number.
const char* const page_names[page_changes] = {"fullscreen_left", "fullscreen_back", "page_hidden",
                                              "page_shown"};

// One line of the log being filled: every cell n/a until set.
class row {
 public:
  row(double onset, int trial, const char* event, double frame) {
    for (auto& c : cells_) strcpy(c, "n/a");
    set(ev_onset, "%.6f", onset);
    set(ev_trial, "%d", trial);
    set(ev_event, "%s", event);
    set(ev_frame, "%.0f", frame);
  }
  void set(int column, const char* format, ...) __attribute__((format(printf, 3, 4))) {
    va_list args;
    va_start(args, format);
    vsnprintf(cells_[column], sizeof cells_[column], format, args);
    va_end(args);
  }
  void ms(int column, double seconds_or_ms) {  // n/a stays for NaN
    if (!std::isnan(seconds_or_ms)) set(column, "%.3f", seconds_or_ms);
  }
  void write(FILE* f) const {
    for (int i = 0; i < event_columns; i++) fprintf(f, i ? "\t%s" : "%s", cells_[i]);
    fputc('\n', f);
  }

 private:
  char cells_[event_columns][64];  // %f of any float fits in 64 characters but FLT_MAX's 47
};

}  // namespace

// ---- frame statistics ----

void framestats::begin(double onset) {
  intervals_.clear();
  last_ = onset;
  frames_ = 1;
}

void framestats::add(double swapped) {
  intervals_.push_back(swapped - last_);
  last_ = swapped;
  frames_++;
}

void framestats::end(double next) {
  intervals_.push_back(next - last_);
  last_ = next;
}

phaseframes framestats::summary() {
  const double none = std::numeric_limits<double>::quiet_NaN();
  phaseframes out = {frames_, none, none, 0};
  const size_t n = intervals_.size();
  if (n == 0) return out;
  std::sort(intervals_.begin(), intervals_.end());
  const double median = n % 2 ? intervals_[n / 2] : (intervals_[n / 2 - 1] + intervals_[n / 2]) / 2;
  out.median_ms = median * 1000;
  out.max_ms = intervals_.back() * 1000;
  out.late = static_cast<int>(intervals_.end() -
                              std::upper_bound(intervals_.begin(), intervals_.end(), 1.5 * median));
  return out;
}

// ---- rows ----

void writeeventheader(FILE* f) {
  for (int i = 0; i < event_columns; i++) fprintf(f, i ? "\t%s" : "%s", event_column_info[i].name);
  fputc('\n', f);
}

void writetrialstart(FILE* f, const trialstartrow& r) {
  row out(r.onset, r.record.trial, "trial_start", r.frame);
  out.set(ev_targets, "%d", r.record.targets);
  out.set(ev_distractors, "%d", r.record.distracts);
  out.set(ev_borders, "%d", r.record.borders);
  out.set(ev_blank, "%d", r.record.blank);
  out.set(ev_instant, "%d", r.record.instant);
  out.set(ev_wait_length, "%f", static_cast<double>(r.record.wait_length));
  out.set(ev_rotate_angle, "%f", static_cast<double>(r.record.rotate_angle));
  out.set(ev_shift_x, "%d", r.shift_x);
  out.set(ev_shift_y, "%d", r.shift_y);
  out.ms(ev_layout_ms, r.layout_ms);
  out.set(ev_seed_layout, "%u", r.seed_layout);
  out.set(ev_seed_cells, "%u", r.seed_cells);
  out.write(f);
}

void writephaserow(FILE* f, const phaserow& r) {
  row out(r.onset, r.trial, phase_names[r.phase >= 1 && r.phase <= 5 ? r.phase : 0], r.frame);
  out.set(ev_duration, "%.6f", r.duration);
  out.set(ev_frames, "%d", r.stats.frames);
  if (!std::isnan(r.set_length)) out.set(ev_set_length, "%f", r.set_length);
  out.ms(ev_frame_median_ms, r.stats.median_ms);
  out.ms(ev_frame_max_ms, r.stats.max_ms);
  out.set(ev_late_frames, "%d", r.stats.late);
  out.write(f);
}

void writeclickrow(FILE* f, const clickrow& r) {
  if (r.page >= 0 && r.page < page_changes) {
    row(r.onset, r.trial, page_names[r.page], r.frame).write(f);
    return;
  }
  row out(r.onset, r.trial, r.early ? "early" : "click", r.frame);
  if (r.early && r.key) {
    out.set(ev_key, "%c", r.key);
    out.write(f);
    return;
  }
  out.set(ev_x_px, "%d", r.x_px);
  out.set(ev_y_px, "%d", r.y_px);
  out.set(ev_button, "%d", r.button);
  out.set(ev_action, "%s", r.pressed ? "press" : "release");
  if (!r.early) {
    const bool placed = r.result != click_wheel && !std::isnan(r.grid_x);
    if (placed) {
      out.set(ev_grid_x, "%f", static_cast<double>(r.grid_x));
      out.set(ev_grid_y, "%f", static_cast<double>(r.grid_y));
      out.set(ev_col, "%d", r.col);
      out.set(ev_row, "%d", r.row);
    }
    out.set(ev_result, "%s", result_names[r.result >= 0 && r.result <= 5 ? r.result : 3]);
    out.set(ev_rt, "%.6f", r.rt);
  }
  out.write(f);
}

void writetrialend(FILE* f, const trialendrow& r) {
  row out(r.onset, r.trial, "trial_end", r.frame);
  const recordhits& h = r.hits;
  out.set(ev_targets_hit, "%f", static_cast<double>(h.targets));
  out.set(ev_distracts_hit, "%f", static_cast<double>(h.distracts));
  out.set(ev_empty_hit, "%f", static_cast<double>(h.empty));
  out.set(ev_total_hit, "%f", static_cast<double>(h.total));
  // In float, as the idle screen adds it to the points.
  out.set(ev_score, "%f", static_cast<double>((h.targets - h.distracts) - h.empty));
  out.write(f);
}

// ---- the running trial ----

void eventlog::trialstart(FILE* f, const trialstartrow& r) {
  trial_ = r.record.trial;
  phase_ = 0;
  clicks_.clear();
  if (f) writetrialstart(f, r);
}

void eventlog::closephase(FILE* f, double now, bool last_interval) {
  if (last_interval) stats_.end(now);
  phaserow r = {onset_, now - onset_, trial_, phase_, frame_, stats_.summary(), set_length_};
  if (f) writephaserow(f, r);
}

bool eventlog::swapped(FILE* f, int phase, double frame, double now, double set_length) {
  if (last_swap_ >= 0 && startup_.size() < refresh_frames) {
    startup_.push_back(now - last_swap_);
    if (startup_.size() == refresh_frames) {
      std::nth_element(startup_.begin(), startup_.begin() + refresh_frames / 2, startup_.end());
      refresh_ms_ = startup_[refresh_frames / 2] * 1000;
    }
  }
  last_swap_ = now;
  if (phase == phase_) {
    if (phase_ != 0) stats_.add(now);
    return false;
  }
  // PICK ends by 's', never by a swap; the idle screen has no row.
  if (phase_ >= 1 && phase_ <= 4) closephase(f, now, true);
  phase_ = phase;
  if (phase < 1 || phase > 5) return false;
  onset_ = now;
  frame_ = frame;
  set_length_ = phase == 5 ? std::numeric_limits<double>::quiet_NaN() : set_length;
  stats_.begin(now);
  return true;
}

void eventlog::click(const clickrow& c) {
  clicks_.push_back(c);
}

void eventlog::page(int change, double onset, double frame) {
  clickrow c = {};
  c.onset = onset, c.trial = trial_, c.frame = frame, c.page = change;
  clicks_.push_back(c);
}

void eventlog::trialend(FILE* f, const trialendrow& r) {
  // 's' can only come once the WAIT has run out; should it come before PICK's first frame was
  // swapped, that WAIT ends here and PICK is a row of no frames.
  if (phase_ >= 1 && phase_ <= 4) {
    closephase(f, r.onset, true);
    phase_ = 5, onset_ = r.onset, frame_ = r.frame, stats_ = framestats();
    set_length_ = std::numeric_limits<double>::quiet_NaN();
  }
  if (phase_ == 5) closephase(f, r.onset, false);
  for (clickrow& c : clicks_) {
    if (!c.early && c.page < 0) c.rt = c.onset - onset_;
    if (f) writeclickrow(f, c);
  }
  if (f) writetrialend(f, r);
  clicks_.clear();
  phase_ = 0;
}

// ---- the sidecar ----

namespace {

// Length of the well-formed UTF-8 sequence that starts at s (n bytes left): 1 to 4, or 0 when
// the byte there starts none (a stray continuation byte, an overlong form, a surrogate, a code
// point beyond U+10FFFF, or a sequence cut short).
size_t utf8length(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xbf;  // the range of the second byte
  if (c >= 0xc2 && c <= 0xdf) {
    len = 2;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3;
    if (c == 0xe0) lo = 0xa0;  // no overlong forms
    if (c == 0xed) hi = 0x9f;  // no surrogates
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (n < len || s[1] < lo || s[1] > hi) return 0;
  for (size_t i = 2; i < len; i++)
    if (s[i] < 0x80 || s[i] > 0xbf) return 0;
  return len;
}

bool validutf8(const std::string& s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0, len; i < s.size(); i += len)
    if ((len = utf8length(p + i, s.size() - i)) == 0) return false;
  return true;
}

// A JSON string: quotes, backslashes and control characters escaped, well-formed UTF-8 as it
// is, and every other byte as \u00XX, so the text is valid JSON and such a byte reads as the
// Latin-1 character of its value.
void jsonstring(FILE* f, const std::string& s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  fputc('"', f);
  for (size_t i = 0; i < s.size();) {
    const size_t len = utf8length(p + i, s.size() - i);
    static const char controls[] = "\b\f\n\r\t";
    const char* const shortform = p[i] ? strchr(controls, p[i]) : nullptr;
    if (p[i] == '"' || p[i] == '\\') {
      fprintf(f, "\\%c", p[i]);
    } else if (shortform) {
      fprintf(f, "\\%c", "bfnrt"[shortform - controls]);
    } else if (len == 0 || p[i] < 0x20) {
      fprintf(f, "\\u%04x", p[i]);
    } else {
      fwrite(p + i, 1, len, f);
      i += len;
      continue;
    }
    i++;
  }
  fputc('"', f);
}

void jsonstring(FILE* f, const char* s) {
  if (s)
    jsonstring(f, std::string(s));
  else
    fputs("null", f);
}

// The exact bytes, percent-encoded: every byte outside printable ASCII, and '%', as %XX.
std::string percentencoded(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char hex[4];
    snprintf(hex, sizeof hex, "%%%02X", c);
    out += c < 0x20 || c > 0x7e || c == '%' ? hex : std::string(1, static_cast<char>(c));
  }
  return out;
}

// The shortest decimal that reads back as the same float: 0.3 rather than 0.300000012, and
// whole numbers whole (30, not 3e+01).
std::string jsonnumber(float v) {
  if (!std::isfinite(v)) return "null";
  char text[64];
  if (v == std::trunc(v) && std::fabs(v) < 1e15f) {
    snprintf(text, sizeof text, "%.0f", static_cast<double>(v));
    return text;
  }
  for (int digits = 1; digits <= 9; digits++) {
    snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(v));
    if (strtof(text, nullptr) == v) break;
  }
  return text;
}

std::string jsonnumbers(const std::vector<float>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); i++) out += (i ? ", " : "") + jsonnumber(values[i]);
  return out + "]";
}

// Writes an object's members one a line at the depth given, the commas between them.
class members {
 public:
  members(FILE* f, int depth) : f_(f), depth_(depth) { fputc('{', f); }
  // Starts the next member: its name and the colon; the caller writes the value.
  FILE* key(const std::string& name) {
    fprintf(f_, "%s\n%*s", first_ ? "" : ",", 2 * depth_, "");
    first_ = false;
    jsonstring(f_, name);
    fputs(": ", f_);
    return f_;
  }
  // A string that may hold any bytes; with `exact`, when they are not UTF-8, also
  // <name>_bytes with the bytes percent-encoded.
  void text(const std::string& name, const std::optional<std::string>& value, bool exact) {
    if (!value) {
      fputs("null", key(name));
      return;
    }
    jsonstring(key(name), *value);
    if (exact && !validutf8(*value)) jsonstring(key(name + "_bytes"), percentencoded(*value));
  }
  void close() { fprintf(f_, "\n%*s}", 2 * (depth_ - 1), ""); }

 private:
  FILE* f_;
  int depth_;
  bool first_ = true;
};

// The levels of the columns that have them: value and meaning.
using levels = std::vector<std::pair<const char*, const char*>>;
const levels event_levels = {
    {"trial_start", "'g' started the trial and its map was laid out"},
    {"WATCH", "the map sways; the targets show red through their holes"},
    {"SHIFT", "the layer beneath moves by one cell"},
    {"ROTATE", "the whole map turns by the trial's angle"},
    {"WAIT", "the map stands still, or the screen is blank"},
    {"PICK", "the subject clicks the cells where the targets now are"},
    {"early",
     "a mouse event or an 's' in the trial before PICK was shown; it did nothing and is in "
     "neither results file"},
    {"click", "a press or release of a mouse button while PICK was shown"},
    {"trial_end", "'s' finished the trial"}};
// Only where the platform reports them (a browser), after the others.
const levels page_levels = {
    {"fullscreen_left",
     "the page left full screen during the trial (Escape, or another window); the subject was "
     "asked to return, and input did nothing until then"},
    {"fullscreen_back", "the page was full screen again"},
    {"page_hidden",
     "the page could not be seen during the trial (another tab or window, the browser "
     "minimised); no frame was drawn until it was shown"},
    {"page_shown", "the page could be seen again"}};
const levels result_levels = {
    {"target", "a target cell, scored +1"},
    {"distractor", "a distractor cell, scored -1"},
    {"empty", "a cell holding neither, scored -1"},
    {"repeat", "a cell already clicked in this trial, not scored"},
    {"off_grid",
     "col or row outside the grid: not scored and no cell taken, but in the coordinate file's "
     "clicks"},
    {"wheel",
     "the wheel turned (button 3 or 4): no click, not scored and not in the coordinate file"}};
const levels action_levels = {{"press", "the button went down"}, {"release", "the button came up"}};
const levels key_levels = {{"s", "'s', which finishes PICK once PICK is shown"}};

const levels* levelsof(int column, bool page_rows) {
  static const levels with_pages = [] {
    levels all = event_levels;
    all.insert(all.end(), page_levels.begin(), page_levels.end());
    return all;
  }();
  switch (column) {
    case ev_event:
      return page_rows ? &with_pages : &event_levels;
    case ev_result:
      return &result_levels;
    case ev_action:
      return &action_levels;
    case ev_key:
      return &key_levels;
  }
  return nullptr;
}

}  // namespace

void writesidecar(FILE* f, const sidecarfacts& s) {
  members top(f, 1);
  for (int i = 0; i < event_columns; i++) {
    const eventcolumninfo& c = event_column_info[i];
    FILE* out = top.key(c.name);
    fputs("{\"Description\": ", out);
    jsonstring(out, c.description);
    if (c.units) fputs(", \"Units\": ", out), jsonstring(out, c.units);
    if (const levels* l = levelsof(i, s.page_rows)) {
      fputs(", \"Levels\": {", out);
      for (size_t k = 0; k < l->size(); k++) {
        fputs(k ? ", " : "", out);
        jsonstring(out, (*l)[k].first);
        fputs(": ", out);
        jsonstring(out, (*l)[k].second);
      }
      fputs("}", out);
    }
    fputs("}", out);
  }

  top.key("StimulusPresentation");
  members screen(f, 2);
  jsonstring(screen.key("SoftwareName"), "spatialmemory");
  jsonstring(screen.key("SoftwareVersion"), SPATIALMEMORY_VERSION);
  jsonstring(screen.key("OperatingSystem"), s.operating_system);
  jsonstring(screen.key("ScreenResolution"),
             std::to_string(s.screen_width) + "x" + std::to_string(s.screen_height));
  // Only swaps synced to the display pace the frames by its refresh; otherwise the measured
  // interval is how fast the program drew.
  if (s.swap_synced && std::isfinite(s.refresh_interval_ms) && s.refresh_interval_ms > 0)
    fprintf(screen.key("ScreenRefreshRate"), "%.3f", 1000 / s.refresh_interval_ms);
  screen.close();

  top.key("spatialmemory");
  members run(f, 2);
  jsonstring(run.key("description"),
             "The event log of one run of spatialmemory: one row per trial start, phase shown, "
             "input before PICK was shown, click and trial end, in the order they happened, "
             "beside the run's two results files.");
  jsonstring(run.key("program"), "spatialmemory");
  jsonstring(run.key("version"), SPATIALMEMORY_VERSION);
  jsonstring(run.key("started"), s.started);
  fprintf(run.key("run_number"), "%d", s.run_number);
  jsonstring(run.key("results_file"), s.results_file);
  jsonstring(run.key("coord_file"), s.coord_file);
  jsonstring(run.key("events_file"), s.events_file);
  run.text("settings_file", s.settings_file, true);
  jsonstring(run.key("settings_sha256"),
             s.settings_sha256.empty() ? nullptr : s.settings_sha256.c_str());
  fputs(s.pilot ? "true" : "false", run.key("pilot"));
  fprintf(run.key("screen_width"), "%d", s.screen_width);
  fprintf(run.key("screen_height"), "%d", s.screen_height);
  fprintf(run.key("viewport"), "[%d, %d, %d, %d]", s.viewport[0], s.viewport[1], s.viewport[2],
          s.viewport[3]);
  jsonstring(run.key("gl_vendor"), s.gl_vendor);
  jsonstring(run.key("gl_renderer"), s.gl_renderer);
  jsonstring(run.key("gl_version"), s.gl_version);
  fputs("1", run.key("swap_interval_requested"));
  fputs(s.swap_synced ? "true" : "false", run.key("swap_synced"));
  jsonstring(run.key("swap_control"), s.swap_control);
  if (std::isnan(s.refresh_interval_ms))
    fputs("null", run.key("refresh_interval_ms"));
  else
    fprintf(run.key("refresh_interval_ms"), "%.3f", s.refresh_interval_ms);
  jsonstring(run.key("clock"),
             "CLOCK_MONOTONIC, in seconds since the program started; it does not follow changes "
             "of the wall clock");
  run.text("participant", s.participant, false);
  run.text("session", s.session, false);
  if (s.seed < 0)
    fputs("null", run.key("seed"));
  else
    fprintf(run.key("seed"), "%lld", s.seed);
  run.text("settings_text", s.settings_text, true);
  fputs(jsonnumbers(s.wait_lengths).c_str(), run.key("wait_lengths"));
  fputs(jsonnumbers(s.rotation_angles).c_str(), run.key("rotation_angles"));
  fputs(s.shuffle_angles ? "true" : "false", run.key("shuffle_angles"));
  if (s.shuffle_seed)
    fprintf(run.key("shuffle_seed"), "%u", *s.shuffle_seed);
  else
    fputs("null", run.key("shuffle_seed"));
  run.key("angle_pools");
  members pools(f, 3);
  for (const auto& pool : s.angle_pools)
    fputs(jsonnumbers(pool.second).c_str(), pools.key(pool.first));
  pools.close();
  run.close();
  top.close();
  fputc('\n', f);
}

bool savesidecar(const char* name, const sidecarfacts& s) {
  std::string temp = std::string(name) + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    fprintf(stderr, "cannot write the results file %s: %s\n", name, strerror(errno));
    return false;
  }
  fchmod(fd, 0644);
  FILE* f = fdopen(fd, "w");
  bool saved = f != nullptr;
  if (saved) {
    writesidecar(f, s);
    errno = 0;
    saved = fflush(f) == 0 && !ferror(f) && fsync(fd) == 0;
  }
  int reason = errno ? errno : EIO;
  saved = (f ? fclose(f) == 0 : close(fd) == 0) && saved;
  if (saved && rename(temp.c_str(), name) != 0) saved = false, reason = errno;
  if (!saved) {
    unlink(temp.c_str());
    fprintf(stderr, "cannot write the results file %s: %s\n", name, strerror(reason));
    return false;
  }
  // The rename lives in the folder: synced too, or a power cut could leave the old sidecar,
  // or none.
  const char* slash = strrchr(name, '/');
  const std::string folder = slash ? std::string(name, slash) : ".";
  return foldersync(folder.c_str());
}

std::string sidecarname(const char* events_name) {
  std::string name = events_name;
  const size_t dot = name.rfind(".tsv");
  return (dot == std::string::npos ? name : name.substr(0, dot)) + ".json";
}

std::string isolocaltime(long long t) {
  const time_t when = static_cast<time_t>(t);
  tm local;
  localtime_r(&when, &local);
  char text[40];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const int offset = static_cast<int>(local.tm_gmtoff / 60);  // minutes east of UTC
  const int a = offset < 0 ? -offset : offset;
  char zone[32];
  snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', a / 60 % 100, a % 60);
  return std::string(text) + zone;
}

std::optional<std::string> readbytes(const char* name) {
  FILE* f = fopen(name, "rb");
  if (!f) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  const bool read = !ferror(f);
  fclose(f);
  if (!read) return std::nullopt;
  return bytes;
}

std::string sha256hex(const std::string& bytes) {
  sha256 hash;
  hash.update(bytes.data(), bytes.size());
  return hash.hexdigest();
}
