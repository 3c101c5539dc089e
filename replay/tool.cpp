// tool: see tool.h. Owns the options, the output folder and file names, the order of the work
// and everything the tool says.
#include "replay/tool.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "model/map.h"
#include "presentation/display.h"
#include "replay/marks.h"
#include "replay/pictures.h"
#include "replay/recorded.h"
#include "replay/recreate.h"

const char* const replay_usage =
    "usage: spatialmemory-replay RESULTS_FILE [--trial K]... [--out DIR] [--size WxH]\n"
    "\n"
    "Draws again what the subject saw in the trials of a run, from its results files and its\n"
    "event log, with the program's own layout and drawing code. For each trial K it writes\n"
    "  trialK-watch.png   the first WATCH frame\n"
    "  trialK-pick.png    the PICK frame (without the phase labels)\n"
    "  trialK-marked.png  the PICK frame with every target and distractor cell outlined where\n"
    "                     it then stood, each click as a mark numbered in the order made and\n"
    "                     coloured by what it hit, and a legend with the trial's condition\n"
    "                     and score\n"
    "A trial cut short is drawn as far as it was recorded. A trial whose re-created cells differ\n"
    "from the recorded ones (another C library draws other random numbers) is not drawn; files\n"
    "that are not of one run (conditions, hits or clicks that differ) are refused.\n"
    "\n"
    "  RESULTS_FILE  the run's tab results file results<N>.txt; results_coord<N>.txt,\n"
    "                results_events<N>.tsv and results_events<N>.json must stand beside it\n"
    "  --trial K     only trial K (its number in the results files); may be given again;\n"
    "                default: every trial\n"
    "  --out DIR     write into DIR, made when missing; a file already there is never\n"
    "                overwritten; default: a new folder replay<N> beside the results file\n"
    "                (replay<N>-2, -3, ... when that one exists)\n"
    "  --size WxH    draw W x H pixels (each at most 16384); default: the screen size the\n"
    "                run recorded\n"
    "  --help        show this text\n"
    "  --version     show the version\n"
    "\n"
    "Exit status: 0 every trial asked for drawn; 1 a problem with the files, or a trial not\n"
    "drawn; 2 a wrong command line.\n";

namespace {

const char* const self = "spatialmemory-replay";

bool positive(const std::string& s, int limit, int* v) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *v = std::stoi(s);
  return *v >= 1 && *v <= limit;
}

}  // namespace

bool parseoptions(int argc, const char* const* argv, replayoptions* out, std::string* problem) {
  *out = replayoptions();
  bool have_results = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i], value;
    const size_t eq = a.find('=');
    const bool valued = a == "--trial" || a == "--out" || a == "--size" ||
                        (a.rfind("--", 0) == 0 && eq != std::string::npos);
    if (valued) {
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        *problem = a + " needs a value";
        return false;
      }
    }
    if (a == "--help" || a == "-h") {
      out->help = true;
    } else if (a == "--version") {
      out->version = true;
    } else if (a == "--trial") {
      int k;
      if (!positive(value, 1 << 30, &k)) {
        *problem = "--trial " + value + ": not a trial number (1, 2, ...)";
        return false;
      }
      out->trials.push_back(k);
    } else if (a == "--out") {
      if (value.empty()) {
        *problem = "--out needs a folder";
        return false;
      }
      out->out = value;
    } else if (a == "--size") {
      const size_t x = value.find('x');
      if (x == std::string::npos || !positive(value.substr(0, x), max_screen, &out->width) ||
          !positive(value.substr(x + 1), max_screen, &out->height)) {
        *problem = "--size " + value + ": not WIDTHxHEIGHT in pixels, as 1280x800";
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      *problem = "unknown option " + a;
      return false;
    } else if (have_results) {
      *problem = "one results file at a time: " + out->results + ", then " + a;
      return false;
    } else {
      out->results = a;
      have_results = true;
    }
  }
  if (!have_results && !out->help && !out->version) {
    *problem = "no results file given";
    return false;
  }
  std::sort(out->trials.begin(), out->trials.end());
  out->trials.erase(std::unique(out->trials.begin(), out->trials.end()), out->trials.end());
  return true;
}

namespace {

std::string basename(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string number(double v) {
  char text[32];
  snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string plural(double n, const char* one, const char* many) {
  return number(n) + " " + (n == 1 ? one : many);
}

// The folder the pictures go into, made here; *said tells of a name other than the one asked.
bool makefolder(const replayoptions& o, const runfiles& f, std::string* folder, std::string* said,
                std::string* problem) {
  if (!o.out.empty()) {
    *folder = o.out;
    if (mkdir(folder->c_str(), 0755) == 0 || errno == EEXIST) {
      struct stat st;
      if (stat(folder->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
      errno = ENOTDIR;
    }
    *problem = *folder + ": " + strerror(errno);
    return false;
  }
  const std::string first = f.folder + "replay" + std::to_string(f.number);
  for (int k = 1; k < 1000; k++) {
    *folder = k == 1 ? first : first + "-" + std::to_string(k);
    if (mkdir(folder->c_str(), 0755) == 0) {
      if (k > 1) *said = first + " exists already: writing into " + *folder + " instead";
      return true;
    }
    if (errno != EEXIST) {
      *problem = *folder + ": " + strerror(errno);
      return false;
    }
  }
  *problem = first + ": it and replay folders -2 to -999 beside it exist already";
  return false;
}

// What the marked picture's legend says about a trial.
std::vector<std::string> legendfor(const recordedrun& run, const tabtrial& t,
                                   const loggedtrial& log) {
  const recordstart& c = t.start;
  std::vector<std::string> lines;
  lines.push_back("Trial " + std::to_string(c.trial) + " of " + basename(run.files.tab));
  lines.push_back(plural(c.targets, "target", "targets") + ", " +
                  plural(c.distracts, "distractor", "distractors"));
  lines.push_back(std::string(c.borders ? "rings" : "no rings") + ", " +
                  (c.instant ? "instant shift" : "sliding shift"));
  lines.push_back((c.blank ? "blank wait " : "wait ") + number(c.wait_length) + " s, turned " +
                  number(c.rotate_angle) + "\u00b0");
  if (t.finished) {
    const recordhits& h = t.hits;
    lines.push_back("Score " + number(h.targets - h.distracts - h.empty) + ": hit " +
                    plural(h.targets, "target", "targets") + ",");
    lines.push_back(plural(h.distracts, "distractor", "distractors") + ", " +
                    plural(h.empty, "empty cell", "empty cells"));
  } else {
    lines.push_back(log.score ? "Score " + number(*log.score) : "No score recorded");
  }
  return lines;
}

struct replayer {
  const recordedrun& run;
  std::string folder;
  maphdl m;
  int live_vp[4];      // where the run's picture stood on its screen
  int vp[4];           // where it stands on ours
  int confirmed = -1;  // -1 not yet asked; else 1 when a finished trial of the run re-created
                       // as recorded, 0 when none could

  explicit replayer(const recordedrun& r) : run(r) {
    mapdefaults(m);
    applysettings(run.tab.settings, m);
    if (run.side.viewport)
      std::copy(run.side.viewport->begin(), run.side.viewport->end(), live_vp);
    else
      fitviewport(run.side.screen_width, run.side.screen_height, live_vp);
  }

  // readrun saw to it that every trial has its rows.
  const loggedtrial& logof(size_t index) const { return run.log.trials[run.logged[index]]; }

  // Whether this machine re-creates this run's maps: the first trial that has its cells
  // recorded is laid out again and compared.
  bool machineconfirmed() {
    size_t i = 0;
    while (confirmed < 0 && i < run.coord.size() && !run.coord[i].finished) i++;
    if (confirmed < 0 && i < run.coord.size()) {
      const loggedtrial& l = logof(i);
      recreate(m, run.tab.trials[i].start, l.seed_layout, l.seed_cells);
      confirmed = differences(m, run.coord[i], l).empty() ? 1 : 0;
    }
    if (confirmed < 0) confirmed = 0;
    return confirmed == 1;
  }

  std::string path(int trial, const char* what) const {
    return folder + "/trial" + std::to_string(trial) + "-" + what + ".png";
  }

  // Draws one trial; false when it was refused or a file could not be written (said why).
  bool replay(size_t index, bool* failed) {
    const tabtrial& t = run.tab.trials[index];
    const coordtrial& cells = run.coord[index];
    const loggedtrial& log = logof(index);
    const std::string which = "trial " + std::to_string(t.start.trial);
    std::string refusal;
    if (!cells.finished && !machineconfirmed())
      refusal =
          "its cells were never recorded (cut short before 's') and no finished trial of "
          "this run shows that this machine re-creates its maps";
    if (refusal.empty()) {
      recreate(m, t.start, log.seed_layout, log.seed_cells);
      const std::string d = cells.finished ? differences(m, cells, log) : shiftdiffers(m, log);
      const std::string where =
          cells.finished ? ", " + run.files.coord + " line " + std::to_string(cells.line) : "";
      if (!d.empty())
        refusal = "the re-created map is not the one recorded (" + d + where +
                  "): this machine's C library draws other random numbers than the run's did";
    }
    if (!refusal.empty()) {
      fprintf(stderr, "%s: %s not drawn: %s\n", self, which.c_str(), refusal.c_str());
      return false;
    }

    std::string problem;
    const double frame = log.watch_frame ? *log.watch_frame : log.start_frame;
    std::string made = basename(path(t.start.trial, "watch"));
    if (!writepng(drawwatch(m, frame), path(t.start.trial, "watch"), &problem)) {
      fprintf(stderr, "%s: %s\n", self, problem.c_str());
      *failed = true;
      return false;
    }
    if (!log.picked) {
      printf("%s: %s only: cut short before 's', the log has no PICK for it%s\n", which.c_str(),
             made.c_str(),
             log.watch_frame ? "" : " (nor a WATCH row: the sway is that of the frame at 'g')");
      return true;
    }
    pickview view;
    const picture pick = drawpick(m, &view);
    std::vector<celloutline> outlines;
    for (const generator<int>* kind : {&m.target_cells, &m.distract_cells})
      for (const gen_node<int>* n = kind->head; n; n = n->next) {
        const double c = n->value / m.num_y, r = n->value % m.num_y;
        celloutline o = {{view.place(c, r), view.place(c + 1, r), view.place(c + 1, r + 1),
                          view.place(c, r + 1)},
                         kind == &m.target_cells};
        outlines.push_back(o);
      }
    std::vector<clickspot> spots;
    for (const loggedclick& c : log.clicks) {
      const std::pair<double, double> at =
          clickpoint(c.x_px, c.y_px, live_vp, run.side.screen_height, vp, pick.height);
      spots.push_back({at.first, at.second, c.result});
    }
    const picture marked = markup(pick, vp, outlines, spots, legendfor(run, t, log));
    if (!writepng(pick, path(t.start.trial, "pick"), &problem) ||
        !writepng(marked, path(t.start.trial, "marked"), &problem)) {
      fprintf(stderr, "%s: %s\n", self, problem.c_str());
      *failed = true;
      return false;
    }
    printf("%s: %s %s %s\n", which.c_str(), made.c_str(),
           basename(path(t.start.trial, "pick")).c_str(),
           basename(path(t.start.trial, "marked")).c_str());
    return true;
  }
};

int problem(const std::string& text) {
  fprintf(stderr, "%s: %s\n", self, text.c_str());
  return 1;
}

}  // namespace

int replaytool(int argc, const char* const* argv) {
  replayoptions o;
  std::string trouble;
  if (!parseoptions(argc, argv, &o, &trouble)) {
    fprintf(stderr, "%s: %s\n%s", self, trouble.c_str(), replay_usage);
    return 2;
  }
  if (o.help) {
    fputs(replay_usage, stdout);
    return 0;
  }
  if (o.version) {
    printf("%s %s\n", self, SPATIALMEMORY_VERSION);
    return 0;
  }

  auto run = std::make_unique<recordedrun>();
  if (!readrun(o.results, run.get(), &trouble)) return problem(trouble);
  for (const std::string& note : run->notes) printf("note: %s\n", note.c_str());
  const int trials = static_cast<int>(run->tab.trials.size());
  if (trials == 0) return problem(o.results + ": the run holds no trial");
  std::vector<int> wanted = o.trials;
  if (wanted.empty())
    for (int k = 1; k <= trials; k++) wanted.push_back(k);
  if (wanted.back() > trials)
    return problem(o.results + ": no trial " + std::to_string(wanted.back()) +
                   " (it holds trials 1 to " + std::to_string(trials) + ")");

  const int width = o.width ? o.width : run->side.screen_width;
  const int height = o.height ? o.height : run->side.screen_height;
  if (!screenlike(width, height, &trouble))
    return problem("no off-screen GL context to draw with: " + trouble);
  replayer r(*run);
  fitviewport(width, height, r.vp);
  std::string said;
  if (!makefolder(o, run->files, &r.folder, &said, &trouble)) return problem(trouble);
  if (!said.empty()) printf("%s\n", said.c_str());
  // A file already there stops the tool before anything is drawn, not halfway.
  for (int k : wanted)
    for (const char* what : {"watch", "pick", "marked"}) {
      struct stat st;
      if (lstat(r.path(k, what).c_str(), &st) == 0)
        return problem(r.path(k, what) + ": exists already; not overwritten");
    }

  printf("writing into %s\n", r.folder.c_str());
  int refused = 0;
  bool failed = false;
  for (int k : wanted) {
    if (!r.replay(static_cast<size_t>(k - 1), &failed)) refused++;
    if (failed) return 1;
  }
  return refused ? 1 : 0;
}
