// Text measuring and drawing with pango on one shared font map.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

#include "platform/base/Saturating.h"
#include "platform/ui/Tree.h"

namespace platform::ui::detail {
namespace {

PangoContext* sharedContext() {
  // One context for measuring; drawing uses the target's own. Leaked on purpose: it lives as long
  // as the process and fontconfig keeps its caches anyway.
  static PangoContext* context = [] {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* c = pango_font_map_create_context(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(c, options);
    cairo_font_options_destroy(options);
    return c;
  }();
  return context;
}

PangoWeight pangoWeight(FontWeight w) {
  switch (w) {
    case FontWeight::ultraLight:
      return PANGO_WEIGHT_ULTRALIGHT;
    case FontWeight::thin:
      return PANGO_WEIGHT_THIN;
    case FontWeight::light:
      return PANGO_WEIGHT_LIGHT;
    case FontWeight::regular:
      return PANGO_WEIGHT_NORMAL;
    case FontWeight::medium:
      return PANGO_WEIGHT_MEDIUM;
    case FontWeight::semibold:
      return PANGO_WEIGHT_SEMIBOLD;
    case FontWeight::bold:
      return PANGO_WEIGHT_BOLD;
    case FontWeight::heavy:
      return PANGO_WEIGHT_ULTRABOLD;
    case FontWeight::black:
      return PANGO_WEIGHT_HEAVY;
  }
  return PANGO_WEIGHT_NORMAL;
}

void configure(PangoLayout* layout, const std::string& text, const Style& style,
               std::optional<double> width) {
  Font font = resolvedFont(style);
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, "DejaVu Sans");
  pango_font_description_set_absolute_size(desc, font.size * 0.92 * PANGO_SCALE);
  // DejaVu has no semibold face: it falls to bold, the nearest a reader would expect.
  pango_font_description_set_weight(desc, pangoWeight(font.weight));
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
  // A width beyond what pango can hold in its units is as good as no limit.
  const double pangoWidth = width ? std::max(1.0, *width) * PANGO_SCALE : 0.0;
  if (width && pangoWidth <= static_cast<double>(std::numeric_limits<int>::max())) {
    pango_layout_set_width(layout, static_cast<int>(pangoWidth));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  } else {
    pango_layout_set_width(layout, -1);
  }
  PangoAlignment a = PANGO_ALIGN_LEFT;
  if (style.textAlignment == TextAlignment::center) a = PANGO_ALIGN_CENTER;
  if (style.textAlignment == TextAlignment::trailing) a = PANGO_ALIGN_RIGHT;
  pango_layout_set_alignment(layout, a);
}

}  // namespace

Font resolvedFont(const Style& style) {
  Font f = style.font;
  if (style.weight) f.weight = *style.weight;
  return f;
}

Size textSize(const std::string& text, const Style& style, std::optional<double> width) {
  using Key = std::tuple<std::string, double, int, int, double>;
  static auto* cache = new std::map<Key, Size>();  // never destroyed
  Font font = resolvedFont(style);
  double w = width && std::isfinite(*width) ? std::floor(*width) : -1;
  Key key{text, font.size, static_cast<int>(font.weight), static_cast<int>(style.textAlignment), w};
  if (auto it = cache->find(key); it != cache->end()) return it->second;
  PangoLayout* layout = pango_layout_new(sharedContext());
  configure(layout, text, style, w >= 0 ? std::optional<double>(w) : std::nullopt);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  Size size{std::ceil(static_cast<double>(logical.width) / PANGO_SCALE),
            std::ceil(static_cast<double>(logical.height) / PANGO_SCALE)};
  if (text.empty()) size.width = 0;
  if (w >= 0) size.width = std::min(size.width, w);
  if (cache->size() > 20000) cache->clear();
  cache->emplace(std::move(key), size);
  return size;
}

Rect caretRect(const std::string& text, const Style& style, std::optional<double> width,
               std::size_t index) {
  PangoLayout* layout = pango_layout_new(sharedContext());
  configure(layout, text, style, width);
  PangoRectangle strong;
  pango_layout_get_cursor_pos(layout, static_cast<int>(std::min(index, text.size())), &strong,
                              nullptr);
  g_object_unref(layout);
  return {static_cast<double>(strong.x) / PANGO_SCALE, static_cast<double>(strong.y) / PANGO_SCALE,
          0, static_cast<double>(strong.height) / PANGO_SCALE};
}

std::size_t textIndexAt(const std::string& text, const Style& style, std::optional<double> width,
                        Point point) {
  if (text.empty()) return 0;
  PangoLayout* layout = pango_layout_new(sharedContext());
  configure(layout, text, style, width);
  int index = 0, trailing = 0;
  pango_layout_xy_to_index(layout, saturatingCast<int>(point.x * PANGO_SCALE),
                           saturatingCast<int>(point.y * PANGO_SCALE), &index, &trailing);
  g_object_unref(layout);
  auto i = static_cast<std::size_t>(std::max(0, index));
  // `trailing` counts characters past the grapheme's start: step over whole code points.
  for (; trailing > 0 && i < text.size(); --trailing) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return std::min(i, text.size());
}

void drawText(cairo_t* cr, const std::string& text, const Style& style, Rect frame, Color color) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
  cairo_font_options_destroy(options);
  pango_layout_context_changed(layout);
  configure(layout, text, style, frame.width + 0.5);
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  cairo_move_to(cr, frame.x, frame.y);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

}  // namespace platform::ui::detail
