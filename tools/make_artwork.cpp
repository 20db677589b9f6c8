// Draws the app's artwork: one round-portrait source per person of the catalogue, the light and
// dark hexagon background tiles and the three swipe-action icons, as PNG files into the folder
// given as the only argument. Built and run by make_artwork.sh; its outputs are committed.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Portrait {
  const char* name;  // the catalogue's imageName
  const char* initials;
  double r, g, b;     // background colour
  int width, height;  // one source is deliberately not square
};

void save(cairo_surface_t* surface, const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name + ".png";
  if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
  }
  cairo_surface_destroy(surface);
}

void drawPortrait(const Portrait& p, const std::string& dir) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, p.width, p.height);
  cairo_t* cr = cairo_create(s);
  cairo_pattern_t* bg = cairo_pattern_create_linear(0, 0, 0, p.height);
  cairo_pattern_add_color_stop_rgb(bg, 0, p.r, p.g, p.b);
  cairo_pattern_add_color_stop_rgb(bg, 1, p.r * 0.55, p.g * 0.55, p.b * 0.55);
  cairo_set_source(cr, bg);
  cairo_paint(cr);
  cairo_pattern_destroy(bg);

  // Head and shoulders, centred, sized to the shorter side.
  double w = p.width, h = p.height, unit = std::min(w, h);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
  cairo_arc(cr, w / 2, h * 0.40, unit * 0.19, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_save(cr);
  cairo_translate(cr, w / 2, h * 0.98);
  cairo_scale(cr, unit * 0.36, unit * 0.30);
  cairo_arc(cr, 0, 0, 1, M_PI, 2 * M_PI);
  cairo_restore(cr);
  cairo_fill(cr);

  // Initials on the chest, so each person is told apart at a glance.
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans Bold");
  pango_font_description_set_absolute_size(font, unit * 0.14 * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, p.initials, -1);
  int tw, th;
  pango_layout_get_pixel_size(layout, &tw, &th);
  cairo_set_source_rgb(cr, p.r * 0.5, p.g * 0.5, p.b * 0.5);
  cairo_move_to(cr, (w - tw) / 2, h * 0.80 - th / 2.0);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);

  cairo_destroy(cr);
  save(s, dir, p.name);
}

// A tile of flat-topped hexagon outlines that repeats seamlessly in both directions.
void drawHexTile(const std::string& dir, const char* name, double bg, double line, double alpha) {
  const double radius = 24;
  const int width = static_cast<int>(3 * radius);                            // 72
  const int height = static_cast<int>(std::round(std::sqrt(3.0) * radius));  // 42
  const double yScale = height / (std::sqrt(3.0) * radius);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, bg, bg, bg);
  cairo_paint(cr);
  cairo_set_source_rgba(cr, line, line, line, alpha);
  cairo_set_line_width(cr, 2);
  const double hexHeight = std::sqrt(3.0) * radius;
  // Centres of the lattice that touch the tile, including its wrapped neighbours.
  for (int ix = -1; ix <= 2; ++ix) {
    for (int iy = -1; iy <= 2; ++iy) {
      for (int half = 0; half < 2; ++half) {
        double cx = ix * 3 * radius + half * 1.5 * radius;
        double cy = (iy * hexHeight + half * hexHeight / 2) * yScale;
        for (int k = 0; k <= 6; ++k) {
          double a = k * M_PI / 3;
          double x = cx + radius * std::cos(a), y = cy + radius * std::sin(a) * yScale;
          if (k == 0)
            cairo_move_to(cr, x, y);
          else
            cairo_line_to(cr, x, y);
        }
        cairo_stroke(cr);
      }
    }
  }
  cairo_destroy(cr);
  save(s, dir, name);
}

void heartPath(cairo_t* cr, double size) {
  double s = size / 64.0;
  cairo_move_to(cr, 32 * s, 56 * s);
  cairo_curve_to(cr, 4 * s, 36 * s, 4 * s, 12 * s, 20 * s, 10 * s);
  cairo_curve_to(cr, 26 * s, 9 * s, 30 * s, 13 * s, 32 * s, 18 * s);
  cairo_curve_to(cr, 34 * s, 13 * s, 38 * s, 9 * s, 44 * s, 10 * s);
  cairo_curve_to(cr, 60 * s, 12 * s, 60 * s, 36 * s, 32 * s, 56 * s);
  cairo_close_path(cr);
}

void drawIcons(const std::string& dir) {
  const int size = 64;
  {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(s);
    heartPath(cr, size);
    cairo_set_source_rgb(cr, 0.9, 0.15, 0.25);
    cairo_set_line_width(cr, 4);
    cairo_stroke(cr);
    cairo_destroy(cr);
    save(s, dir, "heart");
  }
  {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(s);
    heartPath(cr, size);
    cairo_set_source_rgb(cr, 0.9, 0.15, 0.25);
    cairo_fill(cr);
    cairo_destroy(cr);
    save(s, dir, "heartfill");
  }
  {
    // A green speech bubble with three dots: "send it to someone".
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.2, 0.78, 0.35);
    cairo_save(cr);
    cairo_translate(cr, 32, 28);
    cairo_scale(cr, 26, 20);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
    cairo_fill(cr);
    cairo_move_to(cr, 14, 38);
    cairo_line_to(cr, 8, 56);
    cairo_line_to(cr, 26, 44);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    for (int i = -1; i <= 1; ++i) {
      cairo_arc(cr, 32 + i * 11, 28, 3.5, 0, 2 * M_PI);
      cairo_fill(cr);
    }
    cairo_destroy(cr);
    save(s, dir, "imessage");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  const std::vector<Portrait> portraits = {
      {"tavo", "TV", 0.95, 0.55, 0.20, 256, 256},   {"marla", "MQ", 0.35, 0.60, 0.95, 256, 256},
      {"dorian", "DP", 0.55, 0.35, 0.80, 256, 256}, {"ines", "IK", 0.25, 0.75, 0.55, 256, 256},
      {"rufus", "RA", 0.85, 0.30, 0.35, 256, 320},  {"greta", "GH", 0.90, 0.80, 0.25, 256, 256},
  };
  for (const auto& p : portraits) drawPortrait(p, dir);
  drawHexTile(dir, "what-the-hex", 0.96, 0.0, 0.12);
  drawHexTile(dir, "what-the-hex-dark", 0.10, 1.0, 0.14);
  drawIcons(dir);
  return 0;
}
