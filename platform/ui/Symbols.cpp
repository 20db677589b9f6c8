// The drawn symbols: simple vector pictures sized to their frame and drawn in one colour.
#include <cairo.h>

#include <cmath>

#include "platform/ui/Tree.h"

namespace platform::ui::detail {
namespace {

void heartPath(cairo_t* cr, double x, double y, double s) {
  cairo_move_to(cr, x + s * 0.5, y + s * 0.9);
  cairo_curve_to(cr, x + s * 0.1, y + s * 0.6, x - s * 0.05, y + s * 0.35, x + s * 0.1, y + s * 0.17);
  cairo_curve_to(cr, x + s * 0.25, y + s * 0.0, x + s * 0.45, y + s * 0.08, x + s * 0.5, y + s * 0.25);
  cairo_curve_to(cr, x + s * 0.55, y + s * 0.08, x + s * 0.75, y + s * 0.0, x + s * 0.9, y + s * 0.17);
  cairo_curve_to(cr, x + s * 1.05, y + s * 0.35, x + s * 0.9, y + s * 0.6, x + s * 0.5, y + s * 0.9);
  cairo_close_path(cr);
}

void starPath(cairo_t* cr, double cx, double cy, double r) {
  for (int i = 0; i < 10; ++i) {
    double rad = (i % 2 == 0) ? r : r * 0.45;
    double a = -M_PI / 2 + i * M_PI / 5;
    if (i == 0) {
      cairo_move_to(cr, cx + rad * std::cos(a), cy + rad * std::sin(a));
    } else {
      cairo_line_to(cr, cx + rad * std::cos(a), cy + rad * std::sin(a));
    }
  }
  cairo_close_path(cr);
}

}  // namespace

void drawSymbol(cairo_t* cr, const std::string& name, Rect frame, Color color) {
  double s = std::min(frame.width, frame.height);
  if (s <= 0) return;
  double x = frame.x + (frame.width - s) / 2, y = frame.y + (frame.height - s) / 2;
  double cx = x + s / 2, cy = y + s / 2;
  double line = std::max(1.0, s * 0.09);
  cairo_save(cr);
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  cairo_set_line_width(cr, line);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  if (name == "heart.fill" || name == "heart") {
    heartPath(cr, x + s * 0.05, y + s * 0.08, s * 0.9);
    if (name == "heart.fill") {
      cairo_fill(cr);
    } else {
      cairo_stroke(cr);
    }
  } else if (name == "gear") {
    int teeth = 8;
    double outer = s * 0.48, inner = s * 0.36;
    for (int i = 0; i < teeth * 2; ++i) {
      double a0 = i * M_PI / teeth, a1 = (i + 1) * M_PI / teeth;
      double r = (i % 2 == 0) ? outer : inner;
      if (i == 0) cairo_move_to(cr, cx + r * std::cos(a0), cy + r * std::sin(a0));
      cairo_line_to(cr, cx + r * std::cos(a0), cy + r * std::sin(a0));
      cairo_line_to(cr, cx + r * std::cos(a1), cy + r * std::sin(a1));
    }
    cairo_close_path(cr);
    cairo_new_sub_path(cr);
    cairo_arc_negative(cr, cx, cy, s * 0.16, 2 * M_PI, 0);
    cairo_close_path(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_fill(cr);
  } else if (name == "xmark.octagon" || name == "xmark") {
    if (name == "xmark.octagon") {
      double r = s * 0.46;
      for (int i = 0; i < 8; ++i) {
        double a = M_PI / 8 + i * M_PI / 4;
        if (i == 0) {
          cairo_move_to(cr, cx + r * std::cos(a), cy + r * std::sin(a));
        } else {
          cairo_line_to(cr, cx + r * std::cos(a), cy + r * std::sin(a));
        }
      }
      cairo_close_path(cr);
      cairo_stroke(cr);
    }
    double d = name == "xmark" ? s * 0.3 : s * 0.17;
    cairo_move_to(cr, cx - d, cy - d);
    cairo_line_to(cr, cx + d, cy + d);
    cairo_move_to(cr, cx + d, cy - d);
    cairo_line_to(cr, cx - d, cy + d);
    cairo_stroke(cr);
  } else if (name == "square.and.arrow.up") {
    cairo_move_to(cr, x + s * 0.35, y + s * 0.4);
    cairo_line_to(cr, x + s * 0.2, y + s * 0.4);
    cairo_line_to(cr, x + s * 0.2, y + s * 0.92);
    cairo_line_to(cr, x + s * 0.8, y + s * 0.92);
    cairo_line_to(cr, x + s * 0.8, y + s * 0.4);
    cairo_line_to(cr, x + s * 0.65, y + s * 0.4);
    cairo_move_to(cr, cx, y + s * 0.62);
    cairo_line_to(cr, cx, y + s * 0.06);
    cairo_move_to(cr, x + s * 0.34, y + s * 0.22);
    cairo_line_to(cr, cx, y + s * 0.06);
    cairo_line_to(cr, x + s * 0.66, y + s * 0.22);
    cairo_stroke(cr);
  } else if (name == "chevron.left") {
    cairo_set_line_width(cr, std::max(1.5, s * 0.12));
    cairo_move_to(cr, x + s * 0.62, y + s * 0.12);
    cairo_line_to(cr, x + s * 0.3, cy);
    cairo_line_to(cr, x + s * 0.62, y + s * 0.88);
    cairo_stroke(cr);
  } else if (name == "envelope") {
    cairo_rectangle(cr, x + s * 0.08, y + s * 0.22, s * 0.84, s * 0.56);
    cairo_move_to(cr, x + s * 0.08, y + s * 0.22);
    cairo_line_to(cr, cx, y + s * 0.55);
    cairo_line_to(cr, x + s * 0.92, y + s * 0.22);
    cairo_stroke(cr);
  } else if (name == "questionmark.circle") {
    cairo_arc(cr, cx, cy, s * 0.44, 0, 2 * M_PI);
    cairo_stroke(cr);
    cairo_arc(cr, cx, y + s * 0.38, s * 0.13, M_PI, 2.2 * M_PI);
    cairo_line_to(cr, cx, y + s * 0.6);
    cairo_stroke(cr);
    cairo_arc(cr, cx, y + s * 0.75, line * 0.6, 0, 2 * M_PI);
    cairo_fill(cr);
  } else if (name == "star" || name == "star.fill") {
    starPath(cr, cx, cy + s * 0.03, s * 0.47);
    if (name == "star.fill") {
      cairo_fill(cr);
    } else {
      cairo_stroke(cr);
    }
  } else if (name == "play.fill") {
    cairo_move_to(cr, x + s * 0.25, y + s * 0.12);
    cairo_line_to(cr, x + s * 0.85, cy);
    cairo_line_to(cr, x + s * 0.25, y + s * 0.88);
    cairo_close_path(cr);
    cairo_fill(cr);
  } else if (name == "stop.fill") {
    cairo_rectangle(cr, x + s * 0.18, y + s * 0.18, s * 0.64, s * 0.64);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

}  // namespace platform::ui::detail
