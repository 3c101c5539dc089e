// designcheck: reads a settings file as the experiment does and reports on it.
// Owns the judgement of a design: which lines are lost or read only in part, which settings
// come too late, which values the reader takes without a word though the run cannot go as
// meant (negative lengths, no trials), which conditions run out of rotation angles, share a
// key, crowd the grid or miss the exit tally, and whether every trial turns by one and the same
// angle; and the summary, with each condition's angles in the order its trials take them.
// The reading itself is the model's (readsettings, addtrialset, thinpool); nothing here reads
// the file a second way.
#include "check/designcheck.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "model/map.h"

namespace {

struct keyform {
  const char* key;   // the setting's key
  const char* form;  // how its line is written
};

const keyform single_settings[] = {
    {"num_targets", "num_targets: N to M"},
    {"num_distracts", "num_distracts: N to M"},
    {"num_instant_shifts", "num_instant_shifts: N"},
    {"num_with_borders", "num_with_borders: N"},
    {"num_blank_wait", "num_blank_wait: N"},
    {"num_trials_per_set", "num_trials_per_set: N"},
    {"depth_sep", "depth_sep: X"},
    {"num_x", "num_x: N"},
    {"num_y", "num_y: N"},
    {"borderwidth", "borderwidth: N"},
    {"watch_length", "watch_length: X"},
    {"shift_length", "shift_length: X"},
    {"rotate_length", "rotate_length: X"},
    {"shuffle_angles", "shuffle_angles: 0 or 1"},
};

// The closing line each block waits for, and what one of its value lines holds.
struct blockform {
  const char* key;    // block name as the reader reports it
  const char* close;  // its closing line
  const char* value;  // what a value line holds
};
const blockform blocks[] = {
    {"rotation_angles", "angle_end:", "one number (degrees)"},
    {"wait_lengths", "length_end:", "one number (seconds)"},
    {"target_distract_sets", "set_end:", "two whole numbers: targets and distractors"},
    {"discolsetstart", "end:", "three whole numbers: red, green and blue"},
    {"tarcolsetstart", "end:", "three whole numbers: red, green and blue"},
};

// Every word a line may begin with, for telling a misspelt key from a stray line: the single
// settings, the block openings and their closing lines without the colon.
const std::vector<std::string>& allkeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    for (const keyform& f : single_settings) k.push_back(f.key);
    for (const blockform& b : blocks) k.push_back(b.key);
    for (const blockform& b : blocks) {
      std::string close(b.close, strlen(b.close) - 1);
      if (std::find(k.begin(), k.end(), close) == k.end()) k.push_back(close);
    }
    return k;
  }();
  return keys;
}

const blockform& block(const std::string& key) {
  for (const blockform& b : blocks)
    if (key == b.key) return b;
  return blocks[0];
}

// The line as the experimenter wrote it: no line end, at most 60 characters, control
// characters as '?' so that a problem stays one line of plain text.
std::string shown(const char* text) {
  std::string s(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  if (s.size() > 60) s = s.substr(0, 57) + "...";
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return "\"" + s + "\"";
}

bool blank(const char* text) {
  for (const char* p = text; *p; p++)
    if (!isspace(static_cast<unsigned char>(*p))) return false;
  return true;
}

int distance(const std::string& a, const std::string& b) {
  std::vector<int> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); j++) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= a.size(); i++) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (size_t j = 1; j <= b.size(); j++) {
      int here = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = here;
    }
  }
  return row[b.size()];
}

// Why a line that matches nothing might have been meant as a key.
std::string nomatchreason(const char* text) {
  std::string s(text);
  size_t start = s.find_first_not_of(" \t");
  std::string word = s.substr(start, s.find_first_of(" \t:\r\n", start) - start);
  std::string lower = word;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(tolower(c)); });
  if (start > 0)
    for (const std::string& key : allkeys())
      if (word == key) return "a key must begin the line; the blanks before " + word + " hide it";
  for (const std::string& key : allkeys())
    if (lower == key && word != key) return "keys are lower case: " + key;
  if (word == "wait_lengths") return "wait_lengths opens its block only with its colon";
  for (const blockform& b : blocks)
    if (word + ":" == b.close) return "a closing line outside its block";
  std::string best;
  int best_distance = 3;
  for (const std::string& key : allkeys()) {
    int d = distance(lower, key);
    if (d < best_distance && word.size() > 2) best = key, best_distance = d;
  }
  if (!best.empty()) return "did you mean " + best + "?";
  return "no setting begins so";
}

std::string number(float v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

// One set line as the reader built it, and what was in force there.
struct setline {
  int line;                  // line number
  int targets;               // targets of its trials
  int distracts;             // distractors of its trials
  int first;                 // position in the trial pool of its first trial
  int count;                 // trials built (num_trials_per_set then)
  int with_borders;          // num_with_borders then
  int instants;              // num_instant_shifts then
  int angles;                // num_rotation_angles then: what a pool made here starts with
  std::vector<float> waits;  // wait_lengths then: the keys its pools were made under
};

// What the coin tosses may make of a group of trials: at least `least`, at most `most`.
struct span {
  long long least = 0;  // fewest trials
  long long most = 0;   // most trials
};

// A condition as it decides the angle pool: the distractors play no part.
struct condition {
  int targets;  // targets
  int blank;    // 1 with a blank WAIT
  float wait;   // wait length, seconds
  int instant;  // 1 with an instant shift
  int borders;  // 1 with borders
  bool operator<(const condition& o) const {
    return std::tie(targets, blank, wait, instant, borders) <
           std::tie(o.targets, o.blank, o.wait, o.instant, o.borders);
  }
  bool operator==(const condition& o) const { return !(*this < o) && !(o < *this); }
};

std::string describe(const condition& c) {
  std::ostringstream s;
  s << c.targets << (c.targets == 1 ? " target, " : " targets, ")
    << (c.blank ? "blank wait, " : "wait shown, ") << c.wait << " s, "
    << (c.instant ? "instant shift, " : "animated shift, ")
    << (c.borders ? "borders" : "no borders");
  return s.str();
}

class designwatcher : public settingsobserver {
 public:
  explicit designwatcher(maphdl& m) : m_(m) {}

  std::vector<std::pair<int, std::string>> problems;  // line, message
  std::vector<setline> sets;                          // every set line built, in file order
  std::map<std::string, int> setat;                   // single setting -> last line that set it

  void problem(int line, const std::string& message) { problems.emplace_back(line, message); }
  int setsline() const { return sets_line_; }  // the first target_distract_sets block; 0 none

  void note(const settingsevent& e) override {
    const std::string key = e.key;
    switch (e.what) {
      case settingsnote::setting:
        setat[key] = e.line;
        late(e.line, key);
        unlike(e.line, key);
        break;
      case settingsnote::partial: {
        std::string what = "numbers read before the mismatch are kept";
        if (e.values[0] > 0) {
          setat[key] = e.line;
        } else {
          const auto before = setat.find(key);
          what = "nothing is read from it, so " + key + " keeps " +
                 (before == setat.end() ? std::string("its default")
                                        : "the value of line " + std::to_string(before->second));
        }
        problem(e.line, shown(e.text) + " matches " + key + " only in part (its form is \"" +
                            form(key) + "\"); " + what);
        break;
      }
      case settingsnote::trailing:
        problem(e.line, shown(e.text) + ": the " + (issingle(key) ? "setting" : key + " block") +
                            " reads " + readas(e) + " and ignores " + shown(e.message));
        break;
      case settingsnote::nomatch:
        if (!blank(e.text))
          problem(e.line, shown(e.text) + " matches no setting (" + nomatchreason(e.text) +
                              "); the line is ignored");
        break;
      case settingsnote::blockopen:
        opened_[key] = e.line;
        if (key == "rotation_angles" || key == "wait_lengths") {
          late(e.line, key);
          if (!setat.count(key)) setat[key] = e.line;
        }
        if (key == "target_distract_sets" && !sets_line_) sets_line_ = e.line;
        if (key == "discolsetstart" || key == "tarcolsetstart") {
          if (!colour_line_) colour_line_ = e.line, colour_key_ = key;
          setat[key] = e.line;
        }
        break;
      case settingsnote::unclosed:
        problem(opened_[key], "the " + key + " block has no closing line \"" + block(key).close +
                                  "\"; it runs to the end of the file");
        break;
      case settingsnote::badvalue:
        if (!blank(e.text))
          problem(e.line, shown(e.text) + " in the " + key + " block does not read as " +
                              block(key).value + "; the line is skipped");
        break;
      case settingsnote::setline:
        sets.push_back({e.line, e.values[0], e.values[1], e.first_trial, e.num_trials,
                        m_.num_with_borders, m_.num_instant_shifts, m_.num_rotation_angles,
                        std::vector<float>(m_.wait_lengths, m_.wait_lengths + 100)});
        last_set_ = {e.values[0], e.values[1]};
        break;
      case settingsnote::refused:
        problem(e.line, e.message);
        break;
      case settingsnote::clipped: {
        std::ostringstream s;
        s << "colour " << e.values[0] << " " << e.values[1] << " " << e.values[2]
          << " has a component outside 0 to 255; it is stored as " << (e.values[0] & 0xff) << " "
          << (e.values[1] & 0xff) << " " << (e.values[2] & 0xff);
        problem(e.line, s.str());
        break;
      }
      case settingsnote::longline:
        problem(e.line,
                "the line is longer than 254 characters; the rest is read as a line of its own");
        break;
      case settingsnote::value:
        if (key == "wait_lengths" && m_.num_wait_lengths > 0 &&
            m_.wait_lengths[m_.num_wait_lengths - 1] < 0)
          problem(e.line, "wait length " + number(m_.wait_lengths[m_.num_wait_lengths - 1]) +
                              " is negative: WAIT then lasts a single frame");
        break;
      case settingsnote::blockclose:
        break;
    }
  }

 private:
  static std::string form(const std::string& key) {
    for (const keyform& k : single_settings)
      if (key == k.key) return k.form;
    return key;
  }

  static bool issingle(const std::string& key) {
    for (const keyform& k : single_settings)
      if (key == k.key) return true;
    return false;
  }

  // What a line with more after its values was read as, from what the reader stored.
  std::string readas(const settingsevent& e) const {
    const std::string key = e.key;
    if (key == "num_targets")
      return key + " as " + std::to_string(m_.num_targets_min) + " to " +
             std::to_string(m_.num_targets_max);
    if (key == "num_distracts")
      return key + " as " + std::to_string(m_.num_distracts_min) + " to " +
             std::to_string(m_.num_distracts_max);
    if (key == "rotation_angles") return number(m_.rotation_angles[m_.num_rotation_angles - 1]);
    if (key == "wait_lengths") return number(m_.wait_lengths[m_.num_wait_lengths - 1]);
    if (key == "target_distract_sets")
      return std::to_string(last_set_.first) + " " + std::to_string(last_set_.second);
    if (key == "discolsetstart" || key == "tarcolsetstart")
      return std::to_string(e.values[0]) + " " + std::to_string(e.values[1]) + " " +
             std::to_string(e.values[2]);
    const std::map<std::string, std::string> single = {
        {"num_instant_shifts", std::to_string(m_.num_instant_shifts)},
        {"num_with_borders", std::to_string(m_.num_with_borders)},
        {"num_blank_wait", std::to_string(m_.num_blank_wait)},
        {"num_trials_per_set", std::to_string(m_.num_trials_per_set)},
        {"depth_sep", number(m_.depth_sep)},
        {"num_x", std::to_string(m_.num_x)},
        {"num_y", std::to_string(m_.num_y)},
        {"borderwidth", std::to_string(m_.borderwidth)},
        {"watch_length", number(m_.watch_length)},
        {"shift_length", number(m_.shift_length)},
        {"rotate_length", number(m_.rotate_length)},
        {"shuffle_angles", m_.shuffle_angles ? "1" : "0"}};
    const auto it = single.find(key);
    return it == single.end() ? "its values" : key + " as " + it->second;
  }

  // Values the reader takes without a word that leave a design that cannot run as meant.
  void unlike(int line, const std::string& key) {
    const std::pair<const char*, float> lengths[] = {{"watch_length", m_.watch_length},
                                                     {"shift_length", m_.shift_length},
                                                     {"rotate_length", m_.rotate_length}};
    const char* const phases[] = {"WATCH", "SHIFT", "ROTATE"};
    for (int i = 0; i < 3; i++)
      if (key == lengths[i].first && lengths[i].second < 0)
        problem(line, key + " " + number(lengths[i].second) + " is negative: " + phases[i] +
                          " then lasts a single frame");
    if (key == "num_trials_per_set" && m_.num_trials_per_set <= 0)
      problem(line, "num_trials_per_set " + std::to_string(m_.num_trials_per_set) +
                        " builds no trial from a set line");
  }

  // Settings the trial building reads, and grid sizes a colour block was sized by, only act on
  // what comes after them.
  void late(int line, const std::string& key) {
    static const char* const trial_settings[] = {"num_trials_per_set", "num_with_borders",
                                                 "num_instant_shifts", "num_blank_wait",
                                                 "wait_lengths",       "rotation_angles"};
    if (sets_line_)
      for (const char* k : trial_settings)
        if (key == k)
          problem(line, key + " comes after the target_distract_sets block of line " +
                            std::to_string(sets_line_) + ", whose trials were built without it");
    if (colour_line_ && (key == "num_x" || key == "num_y"))
      problem(line, key + " comes after the " + colour_key_ + " block of line " +
                        std::to_string(colour_line_) +
                        ", which was sized by the grid in force there");
  }

  maphdl& m_;
  std::map<std::string, int> opened_;  // block -> line of its latest opening
  int sets_line_ = 0;                  // line of the first target_distract_sets block
  int colour_line_ = 0;                // line of the first colour block
  std::string colour_key_;             // which colour block that was
  std::pair<int, int> last_set_;       // targets, distractors of the latest set line
};

// Trials of one set of counts, blank flag and wait length, as the coins may deal them.
struct row {
  long long trials = 0;             // trials, fixed by position
  span borders;                     // of them with borders
  span instants;                    // of them with an instant shift
  std::vector<std::string> angles;  // the angles of each pool its trials draw on, in the order
                                    // they take them; one entry when the pools agree
};

std::string plural(long long n, const std::string& word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// A condition's angles in the order its trials take them: from the end of its pool; a pool
// shuffled at run time has no order yet, and its angles are given as listed.
std::string angleorder(const std::vector<float>* pool, bool shuffled) {
  if (!pool || pool->empty()) return "none";
  std::string text;
  if (shuffled)
    for (float a : *pool) text += (text.empty() ? "shuffled: " : " ") + number(a);
  else
    for (auto a = pool->rbegin(); a != pool->rend(); ++a)
      text += (text.empty() ? "" : " ") + number(*a);
  return text;
}

std::string spantext(span s) {
  return s.least == s.most ? std::to_string(s.most)
                           : std::to_string(s.least) + "-" + std::to_string(s.most);
}

// The one angle every trial of a design turns by, for certain or as the coin tosses may deal
// it. A pool hands out its angles from its end, one a trial, so trials differ only where a
// condition gets more trials than the run of equal angles that ends its pool.
struct oneangle {
  bool found = false;    // the trials may all turn by `angle`
  bool certain = false;  // whatever the coin tosses deal
  float angle = 0;       // degrees
};

// keys: each key's span of trials and its pool; groups: the trials of each (targets, blank,
// wait) with the keys their borders and instant shifts choose among. Keys without a pool, and
// trials beyond a pool's end, turn by no angle of a list and are reported elsewhere.
oneangle sameangle(const std::map<std::string, std::pair<span, const std::vector<float>*>>& keys,
                   const std::map<std::tuple<int, int, float>,
                                  std::pair<long long, std::vector<std::string>>>& groups) {
  oneangle result;
  std::vector<float> ends, listed;
  for (const auto& k : keys) {
    const std::vector<float>& pool = *k.second.second;
    if (pool.empty()) continue;
    ends.push_back(pool.back());
    listed.insert(listed.end(), pool.begin(), pool.end());
  }
  // One angle in every list is the design's own choice.
  if (std::count(listed.begin(), listed.end(), listed.empty() ? 0 : listed[0]) ==
      static_cast<long long>(listed.size()))
    return result;
  // Each angle once: the ends of a thousand pools are mostly the same few angles.
  std::sort(ends.begin(), ends.end());
  ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
  for (float a : ends) {
    bool may = true, certain = true;
    std::map<std::string, long long> room;  // trials a key can take that all turn by a
    for (const auto& k : keys) {
      const std::vector<float>& pool = *k.second.second;
      const long long size = static_cast<long long>(pool.size());
      long long run = 0;
      while (run < size && pool[size - 1 - run] == a) run++;
      may = may && std::min(k.second.first.least, size) <= run;
      certain = certain && std::min(k.second.first.most, size) <= run;
      room[k.first] = run == size ? k.second.first.most : run;
    }
    for (const auto& g : groups) {
      long long fits = 0;
      for (const std::string& key : g.second.second) fits += room[key];
      may = may && g.second.first <= fits;
    }
    if (certain || (may && !result.found)) result = {true, certain, a};
    if (certain) break;
  }
  return result;
}

}  // namespace

designreport checkdesign(const char* name) {
  designreport report;
  FILE* in = fopen(name, "r");
  report.readable = in != nullptr;
  if (!in) {
    report.reason = strerror(errno);
    return report;
  }
  std::unique_ptr<maphdl> owned(new maphdl);
  maphdl& m = *owned;
  mapdefaults(m);
  const std::string file = name;
  designwatcher watcher(m);
  readsettings(m, in, &watcher);
  fclose(in);

  // Trials in pool order: the order the set lines built them.
  std::vector<const trial*> made;
  for (gen_node<trial*>* n = m.trials.head; n; n = n->next) made.push_back(n->value);

  generator<int> candidates;
  candidates.fill(0, m.num_x * m.num_y);
  thinpool(&candidates, m.num_y);
  const int cells = candidates.size;

  // For each set line, the trials of each condition the coins may give. Blank waits and wait
  // lengths are fixed by position; borders and instant shifts only in number, so a condition
  // gets anything from the overlap the counts force to the most they allow.
  std::map<std::string, span> per_key;
  std::map<std::string, std::vector<std::pair<condition, int>>>
      key_conditions;                                    // key -> first line
  std::map<std::tuple<int, int, int, float>, row> rows;  // (targets, distractors, blank, wait)
  std::map<std::string, long long> key_angles;           // key -> angles its pool starts with
  std::map<std::string, bool> reported;
  std::map<std::tuple<int, int, float>, std::pair<long long, std::vector<std::string>>> groups;
  for (const setline& s : watcher.sets) {
    const int n = s.count;
    if (s.targets < 0 || s.distracts < 0)
      watcher.problem(s.line, "a negative count of targets or distractors");
    else if (static_cast<long long>(s.targets) + s.distracts > cells)
      watcher.problem(s.line, plural(s.targets, "target") + " and " +
                                  plural(s.distracts, "distractor") + " need " +
                                  std::to_string(static_cast<long long>(s.targets) + s.distracts) +
                                  " candidate cells; the " + std::to_string(m.num_x) + " x " +
                                  std::to_string(m.num_y) + " grid has " + std::to_string(cells));
    if (s.targets < 9 || s.targets > 20 || s.distracts < 9 || s.distracts > 20)
      watcher.problem(s.line, plural(s.targets, "target") + " and " +
                                  plural(s.distracts, "distractor") +
                                  ": the exit tally counts only 9 to 20 of each, so "
                                  "these trials are not tallied");
    if (n <= 0) continue;
    const long long borders = std::clamp(s.with_borders, 0, n);
    const long long instants = std::clamp(s.instants, 0, n);
    // (blank, wait length) -> trials of the set, and whether the wait length changed after the
    // line: then its pools were made under another key than the trials will look for.
    std::map<std::pair<int, float>, int> positions;
    std::map<std::pair<int, float>, bool> stale;
    for (int k = 0; k < n; k++) {
      const trial* t = made[s.first + k];
      const std::pair<int, float> at = {t->blank_wait ? 1 : 0, m.wait_lengths[t->wait_index]};
      positions[at]++;
      if (s.waits[t->wait_index] != at.second) stale[at] = true;
    }
    for (const auto& p : positions) {
      const long long size = p.second;
      row& r = rows[{s.targets, s.distracts, p.first.first, p.first.second}];
      r.trials += size;
      auto& group = groups[{s.targets, p.first.first, p.first.second}];
      group.first += size;
      r.borders.least += std::max(0LL, size - (n - borders));
      r.borders.most += std::min(size, borders);
      r.instants.least += std::max(0LL, size - (n - instants));
      r.instants.most += std::min(size, instants);
      for (int b = 0; b < 2; b++)
        for (int i = 0; i < 2; i++) {
          const long long room_b = b ? borders : n - borders;
          const long long room_i = i ? instants : n - instants;
          span dealt;
          dealt.most = std::min({size, room_b, room_i});
          dealt.least = std::max(0LL, size - (n - room_b) - (n - room_i));
          if (dealt.most == 0) continue;
          const condition c = {s.targets, p.first.first, p.first.second, i, b};
          const std::string key = conditionkey(c.targets, c.blank, c.wait, c.instant, c.borders);
          if (std::find(group.second.begin(), group.second.end(), key) == group.second.end())
            group.second.push_back(key);
          span& total = per_key[key];
          total.least += dealt.least;
          total.most += dealt.most;

          auto& known = key_conditions[key];
          bool seen = false;
          for (const auto& kc : known) seen = seen || kc.first == c;
          if (!seen) {
            if (!known.empty())
              watcher.problem(s.line, "condition (" + describe(c) + ") has the key " + key +
                                          " of condition (" + describe(known[0].first) +
                                          ") from line " + std::to_string(known[0].second) +
                                          "; the two share one angle pool");
            known.emplace_back(c, s.line);
          }

          // A pool starts with the angles in force where its first trial is built, under the
          // key of that moment; a trial that looks under another key finds no pool at all.
          auto pool = m.angle_pools.find(key);
          const long long fresh = stale[p.first] ? 0 : s.angles;
          long long& known_angles = key_angles.emplace(key, fresh).first->second;
          if (pool != m.angle_pools.end())
            known_angles = static_cast<long long>(pool->second.size());
          const long long angles = known_angles;
          const std::string order =
              angleorder(pool == m.angle_pools.end() ? nullptr : &pool->second, m.shuffle_angles);
          if (std::find(r.angles.begin(), r.angles.end(), order) == r.angles.end())
            r.angles.push_back(order);
          if (total.most > angles && !reported[key]) {
            reported[key] = true;
            std::string count = total.least == total.most ? plural(total.most, "trial")
                                                          : "up to " + std::to_string(total.most) +
                                                                " trials (the coin tosses decide)";
            long long short_by = total.most - angles;
            watcher.problem(s.line,
                            "condition " + key + " has " + count + " but " +
                                plural(angles, "rotation angle") + ": the last " +
                                std::to_string(short_by) +
                                " of its trials to be run get no angle (\"Trying to POP from an "
                                "empty vector : " +
                                key + "\" in the results)");
          }
        }
    }
  }

  std::map<std::string, std::pair<span, const std::vector<float>*>> keys;
  static const std::vector<float> none;
  for (const auto& k : per_key) {
    auto pool = m.angle_pools.find(k.first);
    keys[k.first] = {k.second, pool == m.angle_pools.end() ? &none : &pool->second};
  }
  // Shuffled pools hand out their angles in an order only the run's seed decides.
  const oneangle same = m.shuffle_angles ? oneangle() : sameangle(keys, groups);
  if (same.found) {
    std::vector<float> others;
    for (const auto& k : keys)
      for (float a : *k.second.second)
        if (a != same.angle && std::find(others.begin(), others.end(), a) == others.end())
          others.push_back(a);
    // A long list is cut, so that the problem stays a line one can read.
    const size_t named = others.size() > 8 ? 6 : others.size();
    std::string rest;
    for (size_t i = 0; i < named; i++)
      rest += (i == 0 ? "" : i + 1 == others.size() ? " or " : ", ") + number(others[i]);
    if (named < others.size())
      rest += " or any of " + std::to_string(others.size() - named) + " other angles";
    const std::string message =
        (same.certain ? "every trial of the design turns by "
                      : "the coin tosses may make every trial of the design turn by ") +
        number(same.angle) + " degrees: each condition takes its angles from the end of " +
        "rotation_angles, one a trial; " +
        (same.certain ? "none has trials enough to reach "
                      : "only one dealt more trials reaches ") +
        rest;
    for (const setline& s : watcher.sets)
      if (s.count > 0) watcher.problem(s.line, message);
  }

  if (made.empty())
    watcher.problem(watcher.setsline(),
                    std::string(watcher.setsline() ? "the design"
                                                   : "the file has no "
                                                     "target_distract_sets block "
                                                     "and so") +
                        " builds no trial: the program stops at the first 'g' (\"There are no "
                        "trials to run\")");

  std::stable_sort(watcher.problems.begin(), watcher.problems.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  // Line 0: the whole file's problem.
  for (const auto& p : watcher.problems)
    report.problems.push_back(file + (p.first ? ":" + std::to_string(p.first) : "") + ": " +
                              p.second);

  // The summary: what the run will be.
  std::ostringstream out;
  auto origin = [&](const char* key) {
    auto it = watcher.setat.find(key);
    return it == watcher.setat.end() ? std::string("default")
                                     : "line " + std::to_string(it->second);
  };
  char buf[256];
  auto setting = [&](const char* key, const std::string& value) {
    // A long list would not fit a fixed buffer; pad by hand.
    std::string k = key, v = value;
    k.resize(std::max<size_t>(k.size(), 20), ' ');
    v.resize(std::max<size_t>(v.size(), 12), ' ');
    out << "  " << k << " " << v << " " << origin(key) << "\n";
  };
  out << "Settings in force:\n";
  setting("num_x", std::to_string(m.num_x));
  setting("num_y", std::to_string(m.num_y));
  setting("borderwidth", std::to_string(m.borderwidth));
  setting("depth_sep", number(m.depth_sep));
  setting("watch_length", number(m.watch_length) + " s");
  setting("shift_length", number(m.shift_length) + " s");
  setting("rotate_length", number(m.rotate_length) + " s");
  setting("num_trials_per_set", std::to_string(m.num_trials_per_set));
  setting("num_with_borders", std::to_string(m.num_with_borders));
  setting("num_instant_shifts", std::to_string(m.num_instant_shifts));
  setting("num_blank_wait", std::to_string(m.num_blank_wait));
  setting("num_targets",
          std::to_string(m.num_targets_min) + " to " + std::to_string(m.num_targets_max));
  setting("num_distracts",
          std::to_string(m.num_distracts_min) + " to " + std::to_string(m.num_distracts_max));
  std::string waits, angles;
  for (int i = 0; i < m.num_wait_lengths; i++) waits += (i ? " " : "") + number(m.wait_lengths[i]);
  for (int i = 0; i < m.num_rotation_angles; i++)
    angles += (i ? " " : "") + number(m.rotation_angles[i]);
  setting("wait_lengths", waits.empty() ? "none (0 s)" : waits);
  setting("rotation_angles", angles.empty() ? "none" : angles);
  setting("shuffle_angles", m.shuffle_angles ? "1" : "0");
  if (m.shuffle_angles)
    out << "Angle pools: shuffled at run time, once per condition, from a seed the run records;\n"
           "  a condition's trials take its angles in that shuffled order.\n";

  out << "Trials: " << made.size() << " from " << watcher.sets.size() << " set line"
      << (watcher.sets.size() == 1 ? "" : "s") << "\n";
  if (!rows.empty()) {
    out << "Conditions (a range where the coin tosses decide):\n";
    out << "  targets distractors blank   wait  trials borders instant  angles, first taken "
           "first\n";
    for (const auto& r : rows) {
      snprintf(buf, sizeof buf, "  %7d %11d %-5s %6s %7lld %7s %7s  ", std::get<0>(r.first),
               std::get<1>(r.first), std::get<2>(r.first) ? "yes" : "no",
               (number(std::get<3>(r.first)) + " s").c_str(), r.second.trials,
               spantext(r.second.borders).c_str(), spantext(r.second.instants).c_str());
      out << buf;
      for (size_t i = 0; i < r.second.angles.size(); i++)
        out << (i ? " / " : "") << r.second.angles[i];
      out << "\n";
    }
  }
  auto colours = [&](const char* what, const unsigned char* set, int count) {
    out << "  " << what;
    if (!set) {
      out << "default, 100 200 10\n";
      return;
    }
    for (int i = 0; i < count; i++)
      out << (i ? ", " : "") << int(set[3 * i]) << " " << int(set[3 * i + 1]) << " "
          << int(set[3 * i + 2]);
    out << "\n";
  };
  out << "Colour sets:\n";
  colours("targets:     ", m.tarcol, m.num_tarcol);
  colours("distractors: ", m.discol, m.num_discol);
  double seconds = 0;
  for (const trial* t : made)
    seconds +=
        double(m.watch_length) + m.shift_length + m.rotate_length + m.wait_lengths[t->wait_index];
  const long long whole = static_cast<long long>(seconds + 0.5);
  out << "Session without the PICK phases: " << whole / 60 << " min " << whole % 60 << " s\n";
  report.summary = out.str();
  return report;
}

int exitstatus(const designreport& report) {
  if (!report.readable) return 2;
  return report.problems.empty() ? 0 : 1;
}
