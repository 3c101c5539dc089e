// marks: see marks.h. Owns the look of the marked picture; cairo draws it and encodes the PNG.
#include "replay/marks.h"

#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

// The picture's own pixels as a cairo surface: 0x??RRGGBB native words, rows from the top, is
// cairo's RGB24 exactly, so nothing is copied or converted. Cairo writes only where it draws;
// a surface that is only encoded leaves a const picture as it was.
cairo_surface_t* surfacefor(const picture& p) {
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, p.width);
  assert(stride == p.width * 4 && "marks: RGB24 rows are 4 bytes a pixel without padding");
  auto* data = reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(p.pixels.data()));
  return cairo_image_surface_create_for_data(data, CAIRO_FORMAT_RGB24, p.width, p.height, stride);
}

void setcolour(cairo_t* cr, unsigned rgb, double alpha = 1) {
  cairo_set_source_rgba(cr, (rgb >> 16 & 255) / 255.0, (rgb >> 8 & 255) / 255.0,
                        (rgb & 255) / 255.0, alpha);
}

const unsigned target_cell = 0xffffff;      // solid outline
const unsigned distractor_cell = 0x00e5ff;  // dashed outline

// A path stroked in black a little wider first, so it shows on any noise.
void haloed(cairo_t* cr, unsigned rgb, double width) {
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, width + 2 * std::max(1.0, width / 2));
  cairo_stroke_preserve(cr);
  setcolour(cr, rgb);
  cairo_set_line_width(cr, width);
  cairo_stroke(cr);
}

void outlinepath(cairo_t* cr, const celloutline& c) {
  cairo_move_to(cr, c.corners[0].first, c.corners[0].second);
  for (int i = 1; i < 4; i++) cairo_line_to(cr, c.corners[i].first, c.corners[i].second);
  cairo_close_path(cr);
}

// A filled disc with a black rim and black text in its middle.
void mark(cairo_t* cr, double x, double y, double r, unsigned rgb, const std::string& text) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  const double radius = std::max(r, e.width / 2 + r / 3);
  cairo_new_path(cr);
  cairo_arc(cr, x, y, radius, 0, 2 * 3.14159265358979);
  setcolour(cr, rgb);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, std::max(1.0, r / 6));
  cairo_stroke(cr);
  cairo_move_to(cr, x - e.width / 2 - e.x_bearing, y - e.height / 2 - e.y_bearing);
  cairo_show_text(cr, text.c_str());
}

const char* const results[5] = {"target", "distractor", "empty", "repeat", "off_grid"};

}  // namespace

unsigned markcolour(const std::string& result) {
  if (result == "target") return 0x2ecc40;
  if (result == "distractor") return 0xff4136;
  if (result == "empty") return 0xffdc00;
  if (result == "off_grid") return 0xf012be;
  return 0xaaaaaa;
}

std::vector<clickmark> clickmarks(const std::vector<clickspot>& clicks) {
  std::vector<clickmark> marks;
  std::map<std::pair<double, double>, size_t> at;  // spot -> its mark
  for (size_t k = 0; k < clicks.size(); k++) {
    const clickspot& c = clicks[k];
    const auto [spot, first] = at.emplace(std::make_pair(c.x, c.y), marks.size());
    if (first)
      marks.push_back({c.x, c.y, c.result, std::to_string(k + 1)});
    else
      marks[spot->second].label += "," + std::to_string(k + 1);
  }
  return marks;
}

picture markup(const picture& pick, const int viewport[4], const std::vector<celloutline>& cells,
               const std::vector<clickspot>& clicks, const std::vector<std::string>& legend) {
  picture out = pick;
  cairo_surface_t* surface = surfacefor(out);
  cairo_t* cr = cairo_create(surface);
  // Sizes follow the picture: as drawn here on a 1280 x 800 screen.
  const double s = std::max(0.5, viewport[3] / 800.0);
  const double vx = viewport[0], vtop = pick.height - viewport[1] - viewport[3];
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);

  for (const celloutline& c : cells) {
    const double dash = 8 * s;
    cairo_set_dash(cr, c.target ? nullptr : &dash, c.target ? 0 : 1, 0);
    outlinepath(cr, c);
    haloed(cr, c.target ? target_cell : distractor_cell, 2.5 * s);
  }
  cairo_set_dash(cr, nullptr, 0, 0);

  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 13 * s);
  bool off_grid = false;
  for (const clickmark& m : clickmarks(clicks)) {
    mark(cr, m.x, m.y, 11 * s, markcolour(m.result), m.label);
    off_grid = off_grid || m.result == "off_grid";
  }

  // The legend, in the picture's top left corner, the farthest from the map however it is
  // turned: its lines, then a key to the marks and the outlines, one entry a line.
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 13 * s);
  const double pad = 7 * s, step = 18 * s, indent = 20 * s;
  struct entry {
    std::string text;
    int kind;  // -1 a line of the legend; 0..4 a mark of results[kind]; 5, 6 a target or
               // distractor cell's outline; 7 a mark of two clicks at one spot
  };
  std::vector<entry> entries;
  for (const std::string& line : legend) entries.push_back({line, -1});
  const char* const said[5] = {"click on a target", "click on a distractor",
                               "click on an empty cell", "click on a cell clicked before",
                               "click beside the grid (not scored)"};
  // Clicks beside the grid are rare: their key is only given where there are some.
  for (int k = 0; k < (off_grid ? 5 : 4); k++) entries.push_back({said[k], k});
  entries.push_back({"target cell, where it now is", 5});
  entries.push_back({"distractor cell, where it now is", 6});
  entries.push_back({"clicks 3 and 4 at one spot", 7});
  double width = 0;
  for (const entry& e : entries) {
    cairo_text_extents_t x;
    cairo_text_extents(cr, e.text.c_str(), &x);
    width = std::max(width, x.x_advance + (e.kind < 0 ? 0 : indent));
  }
  const double left = vx + pad, top = vtop + pad;
  cairo_rectangle(cr, left, top, width + 2 * pad, step * entries.size() + pad);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.7);
  cairo_fill(cr);
  double y = top + pad + 11 * s;
  for (const entry& e : entries) {
    const double x = left + pad;
    if (e.kind >= 5 && e.kind <= 6) {
      const double dash = 4 * s;
      cairo_set_dash(cr, e.kind == 5 ? nullptr : &dash, e.kind == 5 ? 0 : 1, 0);
      cairo_rectangle(cr, x + 1 * s, y - 10 * s, 12 * s, 10 * s);
      haloed(cr, e.kind == 5 ? target_cell : distractor_cell, 1.5 * s);
      cairo_set_dash(cr, nullptr, 0, 0);
    } else if (e.kind >= 0) {
      cairo_set_font_size(cr, 8 * s);
      mark(cr, x + 7 * s, y - 4.5 * s, 7 * s, markcolour(e.kind == 7 ? "target" : results[e.kind]),
           e.kind == 7 ? "3,4" : "1");
      cairo_set_font_size(cr, 13 * s);
    }
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, x + (e.kind < 0 ? 0 : indent), y);
    cairo_show_text(cr, e.text.c_str());
    y += step;
  }

  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  return out;
}

namespace {

cairo_status_t tofile(void* closure, const unsigned char* data, unsigned int length) {
  return fwrite(data, 1, length, static_cast<FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                        : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

bool writepng(const picture& p, const std::string& name, std::string* problem) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    *problem =
        name + ": " + (errno == EEXIST ? "exists already; not overwritten" : strerror(errno));
    return false;
  }
  FILE* f = fdopen(fd, "wb");
  cairo_surface_t* surface = surfacefor(p);
  const cairo_status_t status =
      f ? cairo_surface_write_to_png_stream(surface, tofile, f) : CAIRO_STATUS_WRITE_ERROR;
  cairo_surface_destroy(surface);
  const int saved = errno;
  const bool closed = f ? fclose(f) == 0 : close(fd) == 0;
  if (status == CAIRO_STATUS_SUCCESS && closed) return true;
  *problem = name + ": cannot be written (" +
             (status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : strerror(saved)) +
             ")";
  unlink(name.c_str());
  return false;
}
