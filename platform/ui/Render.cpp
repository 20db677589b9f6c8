// Drawing the laid-out tree with cairo, and the record of what was drawn where, which taps and
// TestHost's finders read (so they always agree with what a person sees).
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/base/Bundle.h"
#include "platform/base/Saturating.h"
#include "platform/ui/Tree.h"

namespace platform::ui::detail {
namespace {

void setColor(cairo_t* cr, Color c, double opacity = 1) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a * opacity);
}

void shapePath(cairo_t* cr, ShapeKind kind, double radius, Rect r) {
  switch (kind) {
    case ShapeKind::rectangle:
      cairo_rectangle(cr, r.x, r.y, r.width, r.height);
      break;
    case ShapeKind::circle: {
      double rad = std::min(r.width, r.height) / 2;
      cairo_new_sub_path(cr);
      cairo_arc(cr, r.midX(), r.midY(), rad, 0, 2 * M_PI);
      cairo_close_path(cr);
      break;
    }
    case ShapeKind::roundedRectangle:
    case ShapeKind::capsule: {
      double rad = kind == ShapeKind::capsule ? std::min(r.width, r.height) / 2 : radius;
      rad = std::min({rad, r.width / 2, r.height / 2});
      cairo_new_sub_path(cr);
      cairo_arc(cr, r.maxX() - rad, r.y + rad, rad, -M_PI / 2, 0);
      cairo_arc(cr, r.maxX() - rad, r.maxY() - rad, rad, 0, M_PI / 2);
      cairo_arc(cr, r.x + rad, r.maxY() - rad, rad, M_PI / 2, M_PI);
      cairo_arc(cr, r.x + rad, r.y + rad, rad, M_PI, 3 * M_PI / 2);
      cairo_close_path(cr);
      break;
    }
  }
}

// A box blur of an A8/ARGB32 surface's alpha, three passes (close to a gaussian).
void blurAlpha(cairo_surface_t* s, int radius) {
  if (radius < 1) return;
  cairo_surface_flush(s);
  int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  int stride = cairo_image_surface_get_stride(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  std::vector<double> a(static_cast<std::size_t>(w * h)), tmp(a.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      a[static_cast<std::size_t>(y * w + x)] = data[y * stride + x * 4 + 3];
  auto pass = [&](std::vector<double>& src, std::vector<double>& dst, bool horizontal) {
    int n = horizontal ? w : h, m = horizontal ? h : w;
    for (int j = 0; j < m; ++j) {
      double sum = 0;
      int count = 0;
      auto at = [&](int i) -> double& {
        return src[static_cast<std::size_t>(horizontal ? j * w + i : i * w + j)];
      };
      for (int i = -radius; i <= radius; ++i) {
        if (i >= 0 && i < n) {
          sum += at(i);
          ++count;
        }
      }
      for (int i = 0; i < n; ++i) {
        dst[static_cast<std::size_t>(horizontal ? j * w + i : i * w + j)] = sum / (2 * radius + 1);
        int out = i - radius, in = i + radius + 1;
        if (out >= 0) sum -= at(out);
        if (in < n) sum += at(in);
      }
      (void)count;
    }
  };
  for (int k = 0; k < 3; ++k) {
    pass(a, tmp, true);
    pass(tmp, a, false);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char v = static_cast<unsigned char>(
          std::clamp(a[static_cast<std::size_t>(y * w + x)], 0.0, 255.0));
      unsigned char* p = data + y * stride + x * 4;
      p[0] = p[1] = p[2] = 0;
      p[3] = v;
    }
  cairo_surface_mark_dirty(s);
}

}  // namespace

Color labelColor(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? Color::white() : Color::black();
}

Color backgroundColor(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? Color::black() : Color::white();
}

namespace {
Color groupedBackground(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? Color::black()
                                     : Color::rgb(242 / 255.0, 242 / 255.0, 247 / 255.0);
}
Color cellBackground(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? Color::rgb(28 / 255.0, 28 / 255.0, 30 / 255.0)
                                     : Color::white();
}
Color barBackground(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? Color::rgb(22 / 255.0, 22 / 255.0, 24 / 255.0)
                                     : Color::rgb(248 / 255.0, 248 / 255.0, 248 / 255.0);
}
Color separatorColor(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? Color::rgb(0.33, 0.33, 0.35) : Color::rgb(0.78, 0.78, 0.8);
}
}  // namespace

cairo_surface_t* Tree::imageSurface(const std::string& name) {
  if (auto it = images_.find(name); it != images_.end()) return it->second;
  cairo_surface_t* surface = nullptr;
  auto bundle = Bundle::mainBundle();
  if (bundle && !name.empty()) {
    if (auto path = bundle->pathForResource(name, "png", "Assets")) {
      surface = cairo_image_surface_create_from_png(path->c_str());
      if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        surface = nullptr;
      }
    }
  }
  images_[name] = surface;
  return surface;
}

namespace {

// A control that does not respond (disabled here or anywhere above) is drawn faded, whatever its
// kind, so that what looks tappable is what acts.
constexpr double kDisabledOpacity = 0.35;

bool isControl(const Node& node) {
  return isTappable(node) || node.blueprint->kind == Kind::textField;
}

struct Painter {
  Tree& tree;
  cairo_t* cr;  // null: only record what would be drawn
  bool record;
  ColorScheme scheme;

  struct Ctx {
    Rect clip;
    double opacity = 1;
    int layer = 0;
    bool faded = false;  // inside a disabled control already drawn faded
  };

  void note(Node& node, const Ctx& ctx) {
    if (record)
      tree.drawn.push_back({node.shared_from_this(), node.frame, ctx.clip, ctx.opacity, ctx.layer});
  }

  Color foreground(const Node& node) const {
    if (node.style.foreground) return *node.style.foreground;
    if (node.style.insideButton) return node.style.tint.value_or(Color::accentColor());
    return labelColor(scheme);
  }

  void drawImage(Node& node) {
    cairo_surface_t* img = tree.imageSurface(node.blueprint->text);
    if (!img || !cr) return;
    const Rect& f = node.frame;
    double iw = cairo_image_surface_get_width(img), ih = cairo_image_surface_get_height(img);
    if (iw <= 0 || ih <= 0 || f.width <= 0 || f.height <= 0) return;
    cairo_save(cr);
    cairo_rectangle(cr, f.x, f.y, f.width, f.height);
    cairo_clip(cr);
    if (node.blueprint->flag && node.blueprint->resizing == ImageResizingMode::tile) {
      cairo_pattern_t* pattern = cairo_pattern_create_for_surface(img);
      cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
      cairo_matrix_t m;
      cairo_matrix_init_translate(&m, -f.x, -f.y);
      cairo_pattern_set_matrix(pattern, &m);
      cairo_set_source(cr, pattern);
      cairo_paint(cr);
      cairo_pattern_destroy(pattern);
    } else if (node.blueprint->flag) {
      const EdgeInsets& in = node.blueprint->insets;
      if (in.top + in.bottom < ih && in.leading + in.trailing < iw &&
          (in.top > 0 || in.bottom > 0 || in.leading > 0 || in.trailing > 0)) {
        // Nine slices: corners keep their size, edges and centre stretch.
        double sx[4] = {0, in.leading, iw - in.trailing, iw};
        double sy[4] = {0, in.top, ih - in.bottom, ih};
        double dx[4] = {f.x, f.x + in.leading, f.maxX() - in.trailing, f.maxX()};
        double dy[4] = {f.y, f.y + in.top, f.maxY() - in.bottom, f.maxY()};
        for (int j = 0; j < 3; ++j)
          for (int i = 0; i < 3; ++i) {
            double sw = sx[i + 1] - sx[i], sh = sy[j + 1] - sy[j];
            double dw = dx[i + 1] - dx[i], dh = dy[j + 1] - dy[j];
            if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) continue;
            cairo_save(cr);
            cairo_rectangle(cr, dx[i], dy[j], dw, dh);
            cairo_clip(cr);
            cairo_translate(cr, dx[i], dy[j]);
            cairo_scale(cr, dw / sw, dh / sh);
            cairo_set_source_surface(cr, img, -sx[i], -sy[j]);
            cairo_paint(cr);
            cairo_restore(cr);
          }
      } else {
        cairo_translate(cr, f.x, f.y);
        cairo_scale(cr, f.width / iw, f.height / ih);
        cairo_set_source_surface(cr, img, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
      }
    } else {
      cairo_set_source_surface(cr, img, f.x, f.y);
      cairo_paint(cr);
    }
    cairo_restore(cr);
  }

  void paintShadow(Node& node, const Ctx& ctx) {
    Node* c = node.content();
    const Blueprint& s = *node.blueprint;
    double radius = std::max(0.0, s.number);
    double scale = 1;
    if (cr) {
      double sx = 1, sy = 1;
      cairo_user_to_device_distance(cr, &sx, &sy);
      scale = std::max(1.0, std::abs(sx));
    }
    Rect f = node.frame;
    int pad = saturatingCast<int>(std::ceil(radius * 2 + 2));
    int w = saturatingCast<int>(std::ceil((f.width + 2.0 * pad) * scale));
    int h = saturatingCast<int>(std::ceil((f.height + 2.0 * pad) * scale));
    if (cr && w > 0 && h > 0 && w < 8192 && h < 8192) {
      cairo_surface_t* shadow = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
      cairo_t* sc = cairo_create(shadow);
      cairo_scale(sc, scale, scale);
      cairo_translate(sc, -(f.x - pad), -(f.y - pad));
      Painter inner{tree, sc, false, scheme};
      inner.paint(*c,
                  Ctx{{f.x - pad, f.y - pad, f.width + 2 * pad, f.height + 2 * pad}, 1, ctx.layer});
      cairo_destroy(sc);
      blurAlpha(shadow, saturatingCast<int>(std::round(radius * scale / 2)));
      cairo_save(cr);
      cairo_translate(cr, f.x - pad + s.offset.x, f.y - pad + s.offset.y);
      cairo_scale(cr, 1 / scale, 1 / scale);
      setColor(cr, s.color);
      cairo_mask_surface(cr, shadow, 0, 0);
      cairo_restore(cr);
      cairo_surface_destroy(shadow);
    }
    paint(*c, ctx);
  }

  void paintList(Node& node, const Ctx& ctx) {
    bool grouped = tree.isGrouped(node);
    // A plain list is transparent: what lies behind it shows between and through clear rows.
    if (cr && grouped) {
      setColor(cr, groupedBackground(scheme));
      cairo_rectangle(cr, node.frame.x, node.frame.y, node.frame.width, node.frame.height);
      cairo_fill(cr);
    }
    Ctx inner = ctx;
    inner.clip = Tree::intersect(ctx.clip, node.frame);
    if (cr) {
      cairo_save(cr);
      cairo_rectangle(cr, inner.clip.x, inner.clip.y, inner.clip.width, inner.clip.height);
      cairo_clip(cr);
    }
    for (auto& row : node.visibleRows) {
      const Rect& rf = row->rowFrame;
      bool header = row->key.size() > 2 && row->key.compare(row->key.size() - 2, 2, ".h") == 0;
      if (header) {
        paint(*row, inner);
        continue;
      }
      Node* bg = findModifier(row.get(), Mod::rowBackground, false);
      if (cr) {
        if (bg && bg->children.size() > 1) {
          // drawn below, as a view
        } else {
          setColor(cr, grouped ? cellBackground(scheme) : backgroundColor(scheme));
          cairo_rectangle(cr, rf.x, rf.y, rf.width, rf.height);
          cairo_fill(cr);
        }
      }
      if (bg && bg->children.size() > 1) paint(*bg->children[1], inner);
      Node* sep = findModifier(row.get(), Mod::rowSeparator, false);
      bool hidden = sep && sep->blueprint->visibility == Visibility::hidden;
      if (cr && !hidden) {
        setColor(cr, separatorColor(scheme));
        cairo_rectangle(cr, rf.x + (grouped ? 16 : 20), rf.maxY() - 0.5,
                        rf.width - (grouped ? 16 : 20), 0.5);
        cairo_fill(cr);
      }
      Ctx rowCtx = inner;
      rowCtx.clip = Tree::intersect(inner.clip, rf);
      if (cr) {
        cairo_save(cr);
        cairo_rectangle(cr, rowCtx.clip.x, rowCtx.clip.y, rowCtx.clip.width, rowCtx.clip.height);
        cairo_clip(cr);
      }
      paint(*row, rowCtx);
      if (Node* swipe = swipeModifierOf(row.get())) {
        for (std::size_t k = 1; k < swipe->children.size(); ++k) {
          Node& action = *swipe->children[k];
          if (action.rowFrame.width <= 0.5) continue;
          if (cr) {
            Color tint = action.style.tint.value_or(Color::gray());
            setColor(cr, tint, isDisabled(action) ? kDisabledOpacity : 1);
            cairo_rectangle(cr, action.rowFrame.x, action.rowFrame.y, action.rowFrame.width,
                            action.rowFrame.height);
            cairo_fill(cr);
          }
          Ctx actionCtx = rowCtx;
          actionCtx.clip = Tree::intersect(rowCtx.clip, action.rowFrame);
          paint(action, actionCtx);
        }
      }
      if (cr) cairo_restore(cr);
    }
    if (cr) cairo_restore(cr);
  }

  void paintNavigation(Node& node, const Ctx& ctx) {
    Node* screen = tree.visibleScreen(node);
    if (cr) {
      setColor(cr, backgroundColor(scheme));
      cairo_rectangle(cr, node.frame.x, node.frame.y, node.frame.width, node.frame.height);
      cairo_fill(cr);
    }
    if (screen) {
      Ctx inner = ctx;
      double top = node.barFrame.maxY();
      inner.clip =
          Tree::intersect(ctx.clip, {node.frame.x, top, node.frame.width, node.frame.maxY() - top});
      if (cr) {
        cairo_save(cr);
        cairo_rectangle(cr, inner.clip.x, inner.clip.y, inner.clip.width, inner.clip.height);
        cairo_clip(cr);
      }
      paint(*screen, inner);
      if (cr) cairo_restore(cr);
    }
    const Rect& bar = node.barFrame;
    Rect barItems{bar.x, bar.maxY() - 44, bar.width, 44};
    if (cr) {
      setColor(cr, barBackground(scheme));
      double h = bar.height + (node.largeTitle ? 52 : 0);
      cairo_rectangle(cr, bar.x, bar.y, bar.width, h);
      cairo_fill(cr);
      setColor(cr, separatorColor(scheme));
      cairo_rectangle(cr, bar.x, bar.y + h - 0.5, bar.width, 0.5);
      cairo_fill(cr);
      if (!node.title.empty()) {
        Style ts;
        if (node.largeTitle) {
          ts.font = Font::largeTitle().bold();
          Size z = textSize(node.title, ts, bar.width - 32);
          drawText(cr, node.title, ts,
                   {bar.x + 16, bar.maxY() + (52 - z.height) / 2, bar.width - 32, z.height},
                   labelColor(scheme));
        } else {
          ts.font = Font::headline();
          Size z = textSize(node.title, ts, bar.width - 160);
          drawText(
              cr, node.title, ts,
              {barItems.midX() - z.width / 2, barItems.y + (44 - z.height) / 2, z.width, z.height},
              labelColor(scheme));
        }
      }
      if (node.backFrame.width > 0) {
        Color accent = Color::accentColor();
        drawSymbol(cr, "chevron.left", {node.backFrame.x, barItems.y + 12, 20, 20}, accent);
        Style bs;
        Size z = textSize(node.backTitle, bs, std::nullopt);
        drawText(cr, node.backTitle, bs,
                 {node.backFrame.x + 22, barItems.y + (44 - z.height) / 2, z.width, z.height},
                 accent);
      }
    }
    if (node.toolbar) {
      for (std::size_t k = 1; k < node.toolbar->children.size(); ++k)
        paint(*node.toolbar->children[k], ctx);
    }
  }

  void drawField(Node& node) {
    if (!cr) return;
    const Rect& f = node.frame;
    bool editing = tree.focused() == &node;
    bool multiline = node.blueprint->flag;
    shapePath(cr, ShapeKind::roundedRectangle, 6,
              {f.x + 0.5, f.y + 0.5, std::max(0.0, f.width - 1), std::max(0.0, f.height - 1)});
    setColor(cr, cellBackground(scheme));
    cairo_fill_preserve(cr);
    setColor(cr, editing ? Color::accentColor() : separatorColor(scheme));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    Rect inner = tree.fieldTextFrame(node);
    std::string text = tree.fieldText(node);
    double shift = tree.fieldShift(node);
    cairo_save(cr);
    cairo_rectangle(cr, inner.x - 1, inner.y - 1, inner.width + 2, inner.height + 2);
    cairo_clip(cr);
    Style ts = node.style;
    if (text.empty()) {
      if (!node.blueprint->text.empty()) {
        drawText(cr, node.blueprint->text, ts, {inner.x, inner.y, inner.width, inner.height},
                 Color::gray());
      }
    } else {
      double width = multiline ? inner.width
                               : std::max(inner.width, textSize(text, ts, std::nullopt).width) + 1;
      drawText(cr, text, ts, {inner.x - shift, inner.y, width, inner.height}, foreground(node));
    }
    if (editing) {
      std::optional<double> wrap =
          multiline ? std::optional<double>(std::max(1.0, inner.width)) : std::nullopt;
      Rect c = caretRect(text, ts, wrap, std::min(tree.caret, text.size()));
      setColor(cr, Color::accentColor());
      cairo_rectangle(cr, inner.x - shift + c.x - 1, inner.y + c.y, 2, c.height);
      cairo_fill(cr);
    }
    cairo_restore(cr);
  }

  // Paints the node into a group laid down at `alpha`.
  void paintWithAlpha(Node& node, Ctx inner, double alpha) {
    inner.opacity *= alpha;
    if (cr) cairo_push_group(cr);
    paint(node, inner);
    if (cr) {
      cairo_pop_group_to_source(cr);
      cairo_paint_with_alpha(cr, alpha);
    }
  }

  void paintFaded(Node& node, const Ctx& ctx) {
    Ctx inner = ctx;
    inner.faded = true;
    paintWithAlpha(node, inner, kDisabledOpacity);
  }

  void paint(Node& node, const Ctx& ctx) {
    if (!ctx.faded && isControl(node) && isDisabled(node)) {
      paintFaded(node, ctx);
      return;
    }
    note(node, ctx);
    const Blueprint& s = *node.blueprint;
    const Rect& f = node.frame;
    switch (s.kind) {
      case Kind::text:
        if (cr) drawText(cr, s.text, node.style, f, foreground(node));
        return;
      case Kind::textField:
        drawField(node);
        return;
      case Kind::image:
        drawImage(node);
        return;
      case Kind::symbol:
        if (cr) drawSymbol(cr, s.text, f, foreground(node));
        return;
      case Kind::shape:
        if (cr) {
          shapePath(cr, s.shape, s.cornerRadius, f);
          setColor(cr, node.style.foreground.value_or(labelColor(scheme)));
          cairo_fill(cr);
        }
        return;
      case Kind::color:
        if (cr) {
          setColor(cr, s.color);
          cairo_rectangle(cr, f.x, f.y, f.width, f.height);
          cairo_fill(cr);
        }
        return;
      case Kind::scroll: {
        Ctx inner = ctx;
        inner.clip = Tree::intersect(ctx.clip, f);
        if (cr) {
          cairo_save(cr);
          cairo_rectangle(cr, inner.clip.x, inner.clip.y, inner.clip.width, inner.clip.height);
          cairo_clip(cr);
        }
        if (node.content()) paint(*node.content(), inner);
        if (cr && s.flag && s.axis == Axis::vertical && node.contentSize.height > f.height + 1) {
          double ratio = f.height / node.contentSize.height;
          double h = std::max(30.0, f.height * ratio);
          double y =
              f.y + (f.height - h) * (node.scrollOffset.y / (node.contentSize.height - f.height));
          setColor(cr, Color::gray().opacity(0.6));
          shapePath(cr, ShapeKind::capsule, 0, {f.maxX() - 5, y, 3, h});
          cairo_fill(cr);
        }
        if (cr) cairo_restore(cr);
        return;
      }
      case Kind::grid:
        for (auto& c : node.visibleRows) paint(*c, ctx);
        return;
      case Kind::list:
        paintList(node, ctx);
        return;
      case Kind::navigationView:
        paintNavigation(node, ctx);
        return;
      case Kind::modifier:
        break;
      default:
        for (auto& c : node.children) paint(*c, ctx);
        return;
    }
    Node* c = node.content();
    if (!c) return;
    switch (s.mod) {
      case Mod::background:
        if (node.children.size() > 1) paint(*node.children[1], ctx);
        paint(*c, ctx);
        return;
      case Mod::overlay:
        paint(*c, ctx);
        if (node.children.size() > 1) paint(*node.children[1], ctx);
        return;
      case Mod::clipShape: {
        Ctx inner = ctx;
        inner.clip = Tree::intersect(ctx.clip, f);
        if (cr) {
          cairo_save(cr);
          shapePath(cr, s.shape, s.cornerRadius, f);
          cairo_clip(cr);
        }
        paint(*c, inner);
        if (cr) cairo_restore(cr);
        return;
      }
      case Mod::shadow:
        paintShadow(node, ctx);
        return;
      case Mod::opacity:
        paintWithAlpha(*c, ctx, s.number);
        return;
      case Mod::fill:
      case Mod::stroke: {
        note(*c, ctx);
        if (cr && c->blueprint->kind == Kind::shape) {
          Rect r = c->frame;
          if (s.mod == Mod::stroke) {
            shapePath(cr, c->blueprint->shape, c->blueprint->cornerRadius, r);
            setColor(cr, s.color);
            cairo_set_line_width(cr, s.number);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
            cairo_set_miter_limit(cr, 10);
            cairo_stroke(cr);
          } else {
            shapePath(cr, c->blueprint->shape, c->blueprint->cornerRadius, r);
            setColor(cr, s.color);
            cairo_fill(cr);
          }
        } else {
          paint(*c, ctx);
        }
        return;
      }
      default:
        // Row decorations, swipe actions and toolbar items are drawn by their list or bar.
        paint(*c, ctx);
        return;
    }
  }
};

}  // namespace

// The box and its arrow as one outline.
static void popoverPath(cairo_t* cr, const Presentation& p) {
  const Rect& f = p.frame;
  double r = 12;
  double arrow = p.arrowUp ? f.y - p.arrowTip.y : p.arrowTip.y - f.maxY();
  double tx = p.arrowTip.x;
  cairo_new_path(cr);
  cairo_move_to(cr, f.x + r, f.y);
  if (p.arrowUp) {
    cairo_line_to(cr, tx - arrow, f.y);
    cairo_line_to(cr, tx, p.arrowTip.y);
    cairo_line_to(cr, tx + arrow, f.y);
  }
  cairo_arc(cr, f.maxX() - r, f.y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, f.maxX() - r, f.maxY() - r, r, 0, M_PI / 2);
  if (!p.arrowUp) {
    cairo_line_to(cr, tx + arrow, f.maxY());
    cairo_line_to(cr, tx, p.arrowTip.y);
    cairo_line_to(cr, tx - arrow, f.maxY());
  }
  cairo_arc(cr, f.x + r, f.maxY() - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, f.x + r, f.y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void Tree::paintPopover(cairo_t* cr, const Presentation& p) const {
  if (!cr) return;
  ColorScheme scheme = options.colorScheme;
  // A soft shadow: the outline widened in faint steps.
  cairo_save(cr);
  cairo_translate(cr, 0, 4);
  for (int k = 8; k >= 1; k -= 1) {
    popoverPath(cr, p);
    cairo_set_line_width(cr, 2.0 * k);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    setColor(cr, Color::black().opacity(0.025));
    cairo_stroke(cr);
  }
  cairo_restore(cr);
  popoverPath(cr, p);
  setColor(cr, scheme == ColorScheme::dark ? cellBackground(scheme) : backgroundColor(scheme));
  cairo_fill_preserve(cr);
  setColor(cr, separatorColor(scheme));
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_save(cr);
  shapePath(cr, ShapeKind::roundedRectangle, 12, p.frame);
  cairo_clip(cr);
}

void Tree::render(cairo_t* cr, bool record) {
  if (record) drawn.clear();
  Painter painter{*this, cr, record, options.colorScheme};
  Rect window{0, 0, options.size.width, options.size.height};
  if (cr) {
    setColor(cr, backgroundColor(options.colorScheme));
    cairo_paint(cr);
  }
  if (root) painter.paint(*root, {window, 1, 0});
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    auto& p = sheets[i];
    if (p.popover) {
      paintPopover(cr, p);
      painter.paint(*p.content, {intersect(window, p.frame), 1, static_cast<int>(i + 1)});
      if (cr) cairo_restore(cr);
      continue;
    }
    if (cr) {
      setColor(cr, Color::black().opacity(0.25));
      cairo_paint(cr);
      shapePath(cr, ShapeKind::roundedRectangle, 10,
                {p.frame.x, p.frame.y, p.frame.width, p.frame.height + 10});
      setColor(cr, options.colorScheme == ColorScheme::dark ? cellBackground(options.colorScheme)
                                                            : backgroundColor(options.colorScheme));
      cairo_fill(cr);
      cairo_save(cr);
      cairo_rectangle(cr, p.frame.x, p.frame.y, p.frame.width, p.frame.height);
      cairo_clip(cr);
    }
    painter.paint(*p.content, {intersect(window, p.frame), 1, static_cast<int>(i + 1)});
    if (cr) cairo_restore(cr);
  }
}

}  // namespace platform::ui::detail
