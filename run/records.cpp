// records: see records.h. Owns the formats of both results files' lines and records and of the
// exit tally; the callers decide when each piece is written and flush the files.
#include "run/records.h"

#include <algorithm>
#include <cassert>
#include <cmath>

void writetabheader(FILE* f) {
  fputs(
      "trial\ttargets\tdistrac\tborders\tblank\tinstant\twaitlength\trotate angle\t"
      "targets hit\tdistracts hit\tempty hit\ttotal hit\n",
      f);
}

void writecoordheader(FILE* f) {
  fprintf(f,
          "%-13s %-13s %-13s %-13s %-13s %-13s %-13s %-13s %-13s %-13s %-13s %-13s %-13s %-13s "
          "%-13s %-13s %-13s %-13s\n",
          "trial", "targets", "distrac", "borders", "blank", "instant", "waitlength",
          "rotate angle", "targets hit", "distracts hit", "empty hit", "total hit", "clicks X",
          "clicks Y", "targets X", "targets Y", "distractors X", "distractors Y");
}

void writetabstart(FILE* f, const recordstart& r) {
  fprintf(f, "%d\t%d\t%d\t%d\t%d\t%d\t%f\t%f\t", r.trial, r.targets, r.distracts, r.borders,
          r.blank, r.instant, static_cast<double>(r.wait_length),
          static_cast<double>(r.rotate_angle));
}

void writecoordstart(FILE* f, const recordstart& r) {
  fprintf(f, "%-13d %-13d %-13d %-13d %-13d %-13d %-13f %-13f ", r.trial, r.targets, r.distracts,
          r.borders, r.blank, r.instant, static_cast<double>(r.wait_length),
          static_cast<double>(r.rotate_angle));
}

void writetabhits(FILE* f, const recordhits& h) {
  fprintf(f, "%f\t%f\t%f\t%f\t", static_cast<double>(h.targets), static_cast<double>(h.distracts),
          static_cast<double>(h.empty), static_cast<double>(h.total));
}

void writecoordhits(FILE* f, const recordhits& h) {
  fprintf(f, "%-13f %-13f %-13f %-13f ", static_cast<double>(h.targets),
          static_cast<double>(h.distracts), static_cast<double>(h.empty),
          static_cast<double>(h.total));
}

void writecoordrows(FILE* f, const std::vector<std::pair<float, float>>& clicks,
                    const gen_node<int>* targets, const gen_node<int>* distracts, int num_y) {
  assert(num_y > 0 && "writecoordrows: num_y must be positive; the settings reader must refuse 0");
  size_t click = 0;
  while (click < clicks.size() || targets || distracts) {
    if (click < clicks.size()) {
      fprintf(f, "%-13f %-13f ", static_cast<double>(clicks[click].first),
              static_cast<double>(clicks[click].second));
      click++;
    } else {
      fprintf(f, "%-13c %-13c ", ' ', ' ');
    }
    if (targets) {
      fprintf(f, "%-13d %-13d ", targets->value / num_y, targets->value % num_y);
      targets = targets->next;
    } else {
      fprintf(f, "%-13c %-13c ", ' ', ' ');
    }
    if (distracts) {
      fprintf(f, "%-13d %-13d\n", distracts->value / num_y, distracts->value % num_y);
      distracts = distracts->next;
    } else {
      fprintf(f, "%-13c %-13c\n", ' ', ' ');
    }
    // Twelve blank columns start the next line, so its row stands under "clicks X".
    for (int i = 0; i < 12; i++) fprintf(f, "%-13c ", ' ');
  }
}

namespace {

// A strict order on floats that puts every NaN after all numbers: plain < on a NaN breaks the
// ordering std::sort relies on and can make it read past the list.
bool before(float a, float b) {
  return !std::isnan(a) && (std::isnan(b) || a < b);
}

}  // namespace

void sortclicks(std::vector<std::pair<float, float>>* clicks) {
  std::sort(clicks->begin(), clicks->end(),
            [](const std::pair<float, float>& a, const std::pair<float, float>& b) {
              if (before(a.first, b.first)) return true;
              if (before(b.first, a.first)) return false;
              return before(a.second, b.second);
            });
  clicks->erase(std::unique(clicks->begin(), clicks->end()), clicks->end());
}

int tallycell(int targets, int distracts) {
  if (targets < 9 || targets > 20 || distracts < 9 || distracts > 20) return -1;
  return (targets / 3 - 3) * 4 + (distracts / 3 - 3);
}

void writetally(FILE* f, const int count[16]) {
  for (int i = 0; i < 16; i++)
    fprintf(f, "%d %d: %d\n", (i / 4 + 3) * 3, (i % 4 + 3) * 3, count[i]);
  fputs("\n", f);
}
