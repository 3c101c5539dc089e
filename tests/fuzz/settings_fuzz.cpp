// Fuzz target for the settings reader: any bytes as a settings file, read as the run reads it,
// with a watcher that checks what the reader tells, and the map checked afterwards for what it
// promises to hold. Built by run.sh with clang's libFuzzer and the address and undefined
// behaviour sanitizers; not part of the default build.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "model/map.h"

namespace {

#define REQUIRE(c)                         \
  do {                                     \
    if (!(c)) {                            \
      fprintf(stderr, "broken: %s\n", #c); \
      abort();                             \
    }                                      \
  } while (0)

// Line numbers never go back, and each note belongs to a line that exists.
struct linechecker : settingsobserver {
  int last = 1;
  void note(const settingsevent& e) override {
    REQUIRE(e.line >= last);
    last = e.line;
    REQUIRE(e.key && e.text && e.message);
    if (e.what == settingsnote::setline) REQUIRE(e.num_trials >= 0 && e.first_trial >= 0);
  }
};

FILE* sink() {
  static FILE* f = fopen("/dev/null", "w");
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!in) return 0;
  maphdl* m = new maphdl;
  mapdefaults(*m);
  m->results_file = sink();
  linechecker watcher;
  readsettings(*m, in, &watcher);
  fclose(in);

  REQUIRE(m->num_x >= 1 && m->num_x <= 512 && m->num_y >= 1 && m->num_y <= 512);
  REQUIRE(m->num_wait_lengths >= 0 && m->num_wait_lengths <= 100);
  REQUIRE(m->num_rotation_angles >= 0 && m->num_rotation_angles <= 100);
  REQUIRE((m->discol == nullptr) == (m->num_discol == 0));
  REQUIRE((m->tarcol == nullptr) == (m->num_tarcol == 0));
  REQUIRE(m->trials.size <= max_trials);
  int count = 0;
  for (gen_node<trial*>* n = m->trials.head; n; n = n->next, count++) {
    const trial* t = n->value;
    REQUIRE(t->wait_index >= 0 && t->wait_index < 100);
    REQUIRE(t->wait_index == 0 || t->wait_index < m->num_wait_lengths);
  }
  REQUIRE(count == m->trials.size);
  // Every pool is made with a trial and holds a copy of the angle list.
  REQUIRE(m->angle_pools.size() <= static_cast<size_t>(count));
  for (const auto& pool : m->angle_pools) REQUIRE(pool.second.size() <= 100);

  m->results_file = nullptr;  // the sink stays open for the next input
  delete m;
  return 0;
}
