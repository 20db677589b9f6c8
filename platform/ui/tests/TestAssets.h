// Writes real PNG assets into a test bundle's asset folder.
#pragma once

#include <cairo.h>

#include <filesystem>
#include <string>

#include "platform/ui/Style.h"

namespace platform::ui::testing {

// A w x h picture of one colour, or of two halves (left `color`, right `right`) when given.
inline void writeAsset(const std::filesystem::path& bundle, const std::string& name, int w, int h,
                       Color color, std::optional<Color> right = std::nullopt) {
  std::filesystem::create_directories(bundle / "Assets");
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  cairo_paint(cr);
  if (right) {
    cairo_set_source_rgba(cr, right->r, right->g, right->b, right->a);
    cairo_rectangle(cr, w / 2.0, 0, w / 2.0, h);
    cairo_fill(cr);
  }
  cairo_destroy(cr);
  cairo_surface_write_to_png(s, (bundle / "Assets" / (name + ".png")).c_str());
  cairo_surface_destroy(s);
}

}  // namespace platform::ui::testing
