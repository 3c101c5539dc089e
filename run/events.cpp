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
    {"seed_layout", "trial_start: the value passed to srand at the start of the layout", nullptr},
    {"seed_cells", "trial_start: the value passed to srand when the candidate pool was made",
     nullptr},
    {"x_px", "click: window x as the toolkit gave it, from the left", "px"},
    {"y_px", "click: window y as the toolkit gave it, from the top", "px"},
    {"grid_x", "click: position across the layer beneath, as the coordinate file's clicks X",
     "cells"},
    {"grid_y", "click: position up the layer beneath, as the coordinate file's clicks Y", "cells"},
    {"col", "click: the column the hit test used (grid_x truncated toward zero)", nullptr},
    {"row", "click: the row the hit test used (grid_y truncated toward zero)", nullptr},
    {"result", "click: what the clicked cell held", nullptr},
    {"rt", "click: time since PICK's onset; clicks are seen between frames, so to about a frame",
     "s"},
    {"targets_hit", "trial_end: target cells clicked, as the tab results file", nullptr},
    {"distracts_hit", "trial_end: distractor cells clicked, as the tab results file", nullptr},
    {"empty_hit", "trial_end: other cells clicked, as the tab results file", nullptr},
    {"total_hit", "trial_end: all cells clicked, each once, as the tab results file", nullptr},
    {"score", "trial_end: targets_hit - distracts_hit - empty_hit", nullptr},
    {"button",
     "click: the mouse button as the toolkit numbers it: 0 left, 1 middle, 2 right, "
     "3 and 4 the wheel turned up and down",
     nullptr},
    {"action", "click: whether the button went down or came up", nullptr},
};

namespace {

const char* const phase_names[6] = {"", "WATCH", "SHIFT", "ROTATE", "WAIT", "PICK"};
const char* const result_names[4] = {"target", "distractor", "empty", "repeat"};

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
  row out(r.onset, r.trial, "click", r.frame);
  out.set(ev_x_px, "%d", r.x_px);
  out.set(ev_y_px, "%d", r.y_px);
  out.set(ev_grid_x, "%f", static_cast<double>(r.grid_x));
  out.set(ev_grid_y, "%f", static_cast<double>(r.grid_y));
  out.set(ev_col, "%d", r.col);
  out.set(ev_row, "%d", r.row);
  out.set(ev_result, "%s", result_names[r.result >= 0 && r.result <= 3 ? r.result : 3]);
  out.set(ev_rt, "%.6f", r.rt);
  out.set(ev_button, "%d", r.button);
  out.set(ev_action, "%s", r.pressed ? "press" : "release");
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
    c.rt = c.onset - onset_;
    if (f) writeclickrow(f, c);
  }
  if (f) writetrialend(f, r);
  clicks_.clear();
  phase_ = 0;
}

// ---- the sidecar ----

namespace {

// A JSON string: quotes, backslashes and control characters escaped; other bytes as they are.
void jsonstring(FILE* f, const char* s) {
  if (!s) {
    fputs("null", f);
    return;
  }
  fputc('"', f);
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(s); *c; ++c) {
    if (*c == '"' || *c == '\\')
      fprintf(f, "\\%c", *c);
    else if (*c < 0x20)
      fprintf(f, "\\u%04x", *c);
    else
      fputc(*c, f);
  }
  fputc('"', f);
}

void jsonstring(FILE* f, const std::string& s) {
  jsonstring(f, s.c_str());
}

void key(FILE* f, const char* name) {
  fputs(",\n  ", f);
  jsonstring(f, name);
  fputs(": ", f);
}

}  // namespace

void writesidecar(FILE* f, const sidecarfacts& s) {
  fputs("{\n  \"description\": ", f);
  jsonstring(f,
             "The event log of one run of spatialmemory: one row per trial start, phase shown, "
             "click and trial end, in the order they happened, beside the run's two results "
             "files.");
  key(f, "columns");
  fputs("{", f);
  for (int i = 0; i < event_columns; i++) {
    const eventcolumninfo& c = event_column_info[i];
    fputs(i ? ",\n    " : "\n    ", f);
    jsonstring(f, c.name);
    fputs(": {\"description\": ", f);
    jsonstring(f, c.description);
    if (c.units) fputs(", \"units\": ", f), jsonstring(f, c.units);
    if (i == ev_event) {
      fputs(
          ", \"levels\": {"
          "\"trial_start\": \"'g' started the trial and its map was laid out\", "
          "\"WATCH\": \"the map sways; the targets show red through their holes\", "
          "\"SHIFT\": \"the layer beneath moves by one cell\", "
          "\"ROTATE\": \"the whole map turns by the trial's angle\", "
          "\"WAIT\": \"the map stands still, or the screen is blank\", "
          "\"PICK\": \"the subject clicks the cells where the targets now are\", "
          "\"click\": \"a mouse press or release in PICK\", "
          "\"trial_end\": \"'s' finished the trial\"}",
          f);
    } else if (i == ev_result) {
      fputs(
          ", \"levels\": {"
          "\"target\": \"a target cell, scored +1\", "
          "\"distractor\": \"a distractor cell, scored -1\", "
          "\"empty\": \"a cell holding neither, scored -1\", "
          "\"repeat\": \"a cell already clicked in this trial, not scored\"}",
          f);
    } else if (i == ev_action) {
      fputs(
          ", \"levels\": {"
          "\"press\": \"the button went down\", "
          "\"release\": \"the button came up\"}",
          f);
    }
    fputs("}", f);
  }
  fputs("\n  }", f);
  key(f, "program"), jsonstring(f, "spatialmemory");
  key(f, "version"), jsonstring(f, SPATIALMEMORY_VERSION);
  key(f, "started"), jsonstring(f, s.started);
  key(f, "run_number"), fprintf(f, "%d", s.run_number);
  key(f, "results_file"), jsonstring(f, s.results_file);
  key(f, "coord_file"), jsonstring(f, s.coord_file);
  key(f, "events_file"), jsonstring(f, s.events_file);
  key(f, "settings_file"), jsonstring(f, s.settings_file);
  key(f, "settings_sha256");
  jsonstring(f, s.settings_sha256.empty() ? nullptr : s.settings_sha256.c_str());
  key(f, "pilot"), fputs(s.pilot ? "true" : "false", f);
  key(f, "screen_width"), fprintf(f, "%d", s.screen_width);
  key(f, "screen_height"), fprintf(f, "%d", s.screen_height);
  key(f, "viewport");
  fprintf(f, "[%d, %d, %d, %d]", s.viewport[0], s.viewport[1], s.viewport[2], s.viewport[3]);
  key(f, "gl_vendor"), jsonstring(f, s.gl_vendor);
  key(f, "gl_renderer"), jsonstring(f, s.gl_renderer);
  key(f, "gl_version"), jsonstring(f, s.gl_version);
  key(f, "swap_interval_requested"), fputs("1", f);
  key(f, "swap_synced"), fputs(s.swap_synced ? "true" : "false", f);
  key(f, "swap_control"), jsonstring(f, s.swap_control);
  key(f, "refresh_interval_ms");
  if (std::isnan(s.refresh_interval_ms))
    fputs("null", f);
  else
    fprintf(f, "%.3f", s.refresh_interval_ms);
  key(f, "clock");
  jsonstring(f,
             "CLOCK_MONOTONIC, in seconds since the program started; it does not follow changes "
             "of the wall clock");
  key(f, "seed");
  if (s.seed < 0)
    fputs("null", f);
  else
    fprintf(f, "%lld", s.seed);
  fputs("\n}\n", f);
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
  }
  return saved;
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

std::string sha256file(const char* name) {
  FILE* f = fopen(name, "rb");
  if (!f) return "";
  sha256 hash;
  unsigned char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) hash.update(buffer, n);
  const bool read = !ferror(f);
  fclose(f);
  return read ? hash.hexdigest() : "";
}
