// map_layout: reset_map, which lays out one trial: the target and distractor cells, the noise
// textures with their holes, rings and red discs, the shift direction and the rotation angle.
// Drawing the layers each frame is map_render's; judging clicks against the cells is
// map_hittest's; the settings and the angle pools come from the settings reader.
#include <algorithm>
#include <cstdio>
#include "model/map.h"

namespace {

const unsigned char default_colour[3] = {100, 200, 10};

// A set the settings did not give (or gave empty) becomes the one default colour.
void defaultcolours(unsigned char** set, int* entries) {
  if (*set && *entries > 0) return;
  delete[] * set;
  *set = new unsigned char[3];
  std::copy(default_colour, default_colour + 3, *set);
  *entries = 1;
}

// Keeps the record's buffer (and its texture name) from trial to trial; only a size change
// makes a new buffer.
void fresh(rgbatex_t* tex, int width, int height) {
  if (!tex->data || tex->width != width || tex->height != height) {
    delete[] tex->data;
    tex->data = new unsigned char[static_cast<size_t>(width) * height * 4];
  }
  tex->width = width;
  tex->height = height;
}

}  // namespace

void thinpool(generator<int>* pool, int cells_per_column) {
  // a alternates along a column, so every second cell goes; f alternates per column, so every
  // second column goes.
  int a = 0, p = 0, f = 0;
  gen_node<int>* n = pool->head;
  while (n) {
    gen_node<int>* next = n->next;
    a = 1 - a;
    p = p + 1;
    if (p == cells_per_column + 1) {
      p = 1;
      f = 1 - f;
      a = 1 - a;
    }
    if (a == 0 || f == 1) pool->rem(n);
    n = next;
  }
}

void paintitem(unsigned char* top, unsigned char* under, int width, int height, int num_x,
               int num_y, int cell, int borders, int borderwidth, const unsigned char* colour) {
  const int c = cell / num_y;
  const int r = cell % num_y;
  // The disc box of the cell: the grid covers the middle 1 / 1.1 of the image.
  const float wspan = static_cast<float>(width / 1.1);
  const float hspan = static_cast<float>(height / 1.1);
  const float x0 = static_cast<float>(wspan * c / num_x + 0.05 * width);
  const float y0 = static_cast<float>(hspan * r / num_y + 0.05 * height);
  const float rx = static_cast<float>(0.9 * (width / num_x) / 2);
  const float ry = static_cast<float>(0.9 * (height / num_y) / 2);
  // In float: a border width read as INT_MAX would overflow the int sum. Exact for any width
  // a disc can show.
  const float ring = static_cast<float>(borderwidth) + 1.0f;
  const float bx = rx - ring;
  const float by = ry - ring;
  const float r2 = std::min(rx * rx, ry * ry);
  const float b2 = std::min(bx * bx, by * by);
  const double xend = static_cast<double>(x0) + 2.0 * rx;
  const double yend = static_cast<double>(y0) + 2.0 * ry;
  for (int px = std::max(0, static_cast<int>(x0)); px < xend && px < width; px++) {
    for (int py = std::max(0, static_cast<int>(y0)); py < yend && py < height; py++) {
      const float dx = px - x0 - rx;
      const float dy = py - y0 - ry;
      const float d2 = dx * dx + dy * dy;
      if (!(d2 < r2)) continue;
      const size_t at = (static_cast<size_t>(py) * width + px) * 4;
      if (under) under[at] = 255;
      if (borders != 0 && d2 > b2) {
        top[at] = colour[0];
        top[at + 1] = colour[1];
        top[at + 2] = colour[2];
      } else {
        top[at + 3] = 0;
      }
    }
  }
}

void nextcolour(int* k, int* n, int items, int entries) {
  if (entries <= 0) return;  // no set to walk: stay on colour 0
  *n = *n + 1;
  if (*n >= items / entries) {
    *n = 0;
    *k = (*k + 1) % entries;
  }
}

vec correctshift(vec d) {
  if (d.x == 0 && d.y == 0) d.x = 1;
  if (d.x == -1 && d.y != 0) d.y = 0;
  if (d.x == 1 && d.y != 0) d.x = 0;
  return d;
}

vec cellstep(vec dir, float map_width, float map_height, int num_x, int num_y) {
  return vec(dir.x * map_width / num_x, dir.y * map_height / num_y, 0);
}

void maphdl::reset_map() {
  layout();
  for (rgbatex_t* t : {&map_tex, &under_tex, &background_tex}) upload(t);
}

void maphdl::layout() {
  reseed();
  seed_layout = lastseed;

  // The texture names stay for the whole run: their images are specified anew below.
  clicked_cells.clear();
  target_cells.clear();
  distract_cells.clear();
  clicks.clear();

  defaultcolours(&discol, &num_discol);
  defaultcolours(&tarcol, &num_tarcol);

  // The three images take their random numbers in this order, before the cells are drawn. They
  // are the shared generator's numbers after the seed, from a stream of their own that the
  // compiler can keep in registers; the pool below reseeds the shared one before anything else
  // draws from it.
  rgbatex_t* layers[3] = {&map_tex, &under_tex, &background_tex};
  randstream numbers(seed_layout);
  for (rgbatex_t* t : layers) {
    fresh(t, map_tex_size, map_tex_size);
    noisefill(t->data, t->width, t->height, 4, &numbers);
  }

  generator<int> candidates;  // reseeds from the clock once more; a second may have passed
  seed_cells = lastseed;
  candidates.fill(0, num_x * num_y);
  thinpool(&candidates, num_y);

  // Targets first, then distractors, from the same candidates, so no cell gets both; each kind
  // takes its colours in runs. Only targets mark the under layer red.
  int unplaced = 0;
  auto place = [&](int items, generator<int>* cells, unsigned char* under,
                   const unsigned char* colours, int entries) {
    int k = 0, n = 0;
    for (int i = 0; i < items; i++) {
      if (candidates.size == 0) {
        unplaced++;
        continue;
      }
      int m = candidates.randnum();
      cells->sadd(m);
      paintitem(map_tex.data, under, map_tex.width, map_tex.height, num_x, num_y, m, borders,
                borderwidth, colours + 3 * k);
      nextcolour(&k, &n, items, entries);
    }
  };
  place(num_targets, &target_cells, under_tex.data, tarcol, num_tarcol);
  place(num_distracts, &distract_cells, nullptr, discol, num_discol);
  if (unplaced > 0)
    printf(
        "%d of %d targets and distractors could not be placed: the %d x %d grid has room for %d\n",
        unplaced, num_targets + num_distracts, num_x, num_y,
        num_targets + num_distracts - unplaced);

  shift_dir.x = randomnumber() % 3 - 1;
  shift_dir.y = randomnumber() % 3 - 1;
  shift_dir.z = 0;

  const std::string key =
      conditionkey(num_targets, blank_wait, wait_length, instant_shift, borders);
  std::vector<float>& pool = angle_pools[key];
  if (pool.empty()) {
    if (results_file)
      fprintf(results_file, "Trying to POP from an empty vector : %s\n", key.c_str());
    rotate_angle = 0;
  } else {
    rotate_angle = pool.back();
    pool.pop_back();
  }

  shift_dir = correctshift(shift_dir);
  shift_step = shift_dir;
  map_pos = vec();
  rotation = 0;
}
