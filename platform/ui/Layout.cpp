// The measure-and-place engine: a parent proposes a size, the child chooses its own, the parent
// places it. Stacks hand space to their least flexible children first, like the toolkit's.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_set>

#include "platform/ui/Tree.h"

namespace platform::ui::detail {
namespace {

constexpr double kBig = 1e7;  // "as much as you like" when probing flexibility
constexpr double kNavBarHeight = 44;
constexpr double kLargeTitleHeight = 52;
constexpr double kRowMinHeight = 44;
constexpr double kSwipeActionMinWidth = 74;

double orZero(std::optional<double> v) { return v ? *v : 0; }

Style childStyle(const Node& node, const Style& style) {
  if (node.blueprint->kind == Kind::button || node.blueprint->kind == Kind::navigationLink) {
    Style s = style;
    s.insideButton = true;
    s.inStack = false;
    return s;
  }
  if (node.blueprint->kind != Kind::modifier) {
    Style s = style;
    if (node.blueprint->kind != Kind::component && node.blueprint->kind != Kind::hosted) s.inStack = false;
    return s;
  }
  Style s = style;
  const Blueprint& sp = *node.blueprint;
  switch (sp.mod) {
    // An explicit weight applies whatever font is chosen inside it, as bold() does on a text.
    case Mod::font:
      s.font = sp.font;
      break;
    case Mod::fontWeight:
      s.weight = sp.weight;
      break;
    case Mod::foregroundColor:
      s.foreground = sp.color;
      break;
    case Mod::tint:
      s.tint = sp.color;
      break;
    case Mod::textAlignment:
      s.textAlignment = sp.textAlignment;
      break;
    default:
      break;
  }
  return s;
}

double alignOffset(HorizontalAlignment a, double space, double size) {
  switch (a) {
    case HorizontalAlignment::leading:
      return 0;
    case HorizontalAlignment::center:
      return (space - size) / 2;
    case HorizontalAlignment::trailing:
      return space - size;
  }
  return 0;
}
double alignOffset(VerticalAlignment a, double space, double size) {
  switch (a) {
    case VerticalAlignment::top:
      return 0;
    case VerticalAlignment::center:
      return (space - size) / 2;
    case VerticalAlignment::bottom:
      return space - size;
  }
  return 0;
}

Rect alignIn(Rect outer, Size inner, Alignment a) {
  return {outer.x + alignOffset(a.horizontal, outer.width, inner.width),
          outer.y + alignOffset(a.vertical, outer.height, inner.height), inner.width, inner.height};
}

struct GridColumn {
  double x = 0;
  double width = 0;
};

std::vector<GridColumn> gridColumns(const Blueprint& blueprint, double width) {
  std::vector<GridColumn> cols;
  const auto& items = blueprint.columns;
  auto spacingAfter = [&](std::size_t i) { return items[i].spacing.value_or(kDefaultSpacing); };
  double fixedTotal = 0;
  double spacingTotal = 0;
  std::size_t flexible = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind == GridItem::Kind::fixed) fixedTotal += items[i].minimum;
    if (items[i].kind != GridItem::Kind::fixed) ++flexible;
    if (i + 1 < items.size()) spacingTotal += spacingAfter(i);
  }
  double remaining = std::max(0.0, width - fixedTotal - spacingTotal);
  double share = flexible ? remaining / static_cast<double>(flexible) : 0;
  std::vector<double> widths;
  std::vector<double> gaps;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const GridItem& it = items[i];
    double gap = spacingAfter(i);
    if (it.kind == GridItem::Kind::fixed) {
      widths.push_back(it.minimum);
      gaps.push_back(gap);
    } else if (it.kind == GridItem::Kind::flexible) {
      widths.push_back(std::clamp(share, it.minimum, std::max(it.minimum, it.maximum)));
      gaps.push_back(gap);
    } else {
      // As many columns of at least the minimum as fit in this item's share, at least one; the
      // spare width is shared among them up to the maximum.
      double minimum = std::max(1.0, it.minimum);
      auto n = static_cast<std::size_t>(std::max(1.0, std::floor((share + gap) / (minimum + gap))));
      double w = (share - gap * static_cast<double>(n - 1)) / static_cast<double>(n);
      w = std::clamp(w, minimum, std::max(minimum, it.maximum));
      for (std::size_t k = 0; k < n; ++k) {
        widths.push_back(w);
        gaps.push_back(gap);
      }
    }
  }
  double used = 0;
  for (std::size_t i = 0; i < widths.size(); ++i)
    used += widths[i] + (i + 1 < widths.size() ? gaps[i] : 0);
  double x = alignOffset(blueprint.hAlign, width, used);
  if (x < 0) x = 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    cols.push_back({x, widths[i]});
    x += widths[i] + gaps[i];
  }
  return cols;
}

}  // namespace

bool isScrollContainer(const Node& node) {
  return node.blueprint->kind == Kind::scroll || node.blueprint->kind == Kind::list;
}

Node* swipeModifierOf(Node* row) {
  for (Node* n = row; n;) {
    if (n->isModifier(Mod::swipeActions)) return n;
    if (n->blueprint->kind != Kind::modifier && n->blueprint->kind != Kind::component) return nullptr;
    n = n->content();
  }
  return nullptr;
}

Node* findModifier(Node* node, Mod mod, bool throughContainers) {
  if (!node) return nullptr;
  if (node->isModifier(mod)) return node;
  Kind k = node->blueprint->kind;
  if (k == Kind::navigationView) return nullptr;
  if (!throughContainers && k != Kind::modifier && k != Kind::component && k != Kind::hosted) {
    return nullptr;
  }
  for (auto& c : node->children) {
    if (Node* found = findModifier(c.get(), mod, throughContainers)) return found;
  }
  return nullptr;
}

// ---- Stacks -------------------------------------------------------------------------------

namespace {

std::vector<Size> stackSizes(Tree& tree, Node& node, Proposal p, const Style& style) {
  bool vertical = node.blueprint->kind == Kind::vstack;
  Style cs = style;
  cs.inStack = true;
  cs.stackAxis = vertical ? Axis::vertical : Axis::horizontal;
  auto& kids = node.children;
  std::size_t n = kids.size();
  std::vector<Size> sizes(n);
  double spacing = node.blueprint->spacing.value_or(kDefaultSpacing);
  std::optional<double> along = vertical ? p.height : p.width;
  std::optional<double> cross = vertical ? p.width : p.height;
  auto propose = [&](std::optional<double> a) {
    return vertical ? Proposal{cross, a} : Proposal{a, cross};
  };
  auto alongOf = [&](Size s) { return vertical ? s.height : s.width; };
  if (!along) {
    for (std::size_t i = 0; i < n; ++i)
      sizes[i] = tree.measure(*kids[i], propose(std::nullopt), cs);
    return sizes;
  }
  double available = *along - spacing * static_cast<double>(n ? n - 1 : 0);
  std::vector<double> flex(n);
  for (std::size_t i = 0; i < n; ++i) {
    double lo = alongOf(tree.measure(*kids[i], propose(0.0), cs));
    double hi = alongOf(tree.measure(*kids[i], propose(kBig), cs));
    flex[i] = hi - lo;
  }
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return flex[a] < flex[b]; });
  double remaining = available;
  std::size_t left = n;
  for (std::size_t i : order) {
    double share = std::max(0.0, remaining / static_cast<double>(left));
    sizes[i] = tree.measure(*kids[i], propose(share), cs);
    remaining -= alongOf(sizes[i]);
    --left;
  }
  return sizes;
}

}  // namespace

// ---- Measure ------------------------------------------------------------------------------

Size Tree::measure(Node& node, Proposal p, const Style& style) {
  if (node.measureGeneration != generation) {
    node.measureGeneration = generation;
    node.measureCache.clear();
  }
  for (auto& [prop, size] : node.measureCache) {
    if (prop == p) return size;
  }
  const Blueprint& s = *node.blueprint;
  Style cs = childStyle(node, style);
  Size out;
  switch (s.kind) {
    case Kind::empty:
      break;
    case Kind::spacer:
      if (style.inStack) {
        if (style.stackAxis == Axis::vertical) {
          out = {0, std::max(s.number, orZero(p.height))};
        } else {
          out = {std::max(s.number, orZero(p.width)), 0};
        }
      } else {
        out = {orZero(p.width), orZero(p.height)};
      }
      break;
    case Kind::text:
      out = textSize(s.text, style, p.width);
      break;
    case Kind::image: {
      cairo_surface_t* img = imageSurface(s.text);
      if (!img) break;
      Size natural{static_cast<double>(cairo_image_surface_get_width(img)),
                   static_cast<double>(cairo_image_surface_get_height(img))};
      out = s.flag ? Size{p.width.value_or(natural.width), p.height.value_or(natural.height)}
                   : natural;
      break;
    }
    case Kind::symbol: {
      double side = std::round(resolvedFont(style).size * 1.2);
      out = s.flag ? Size{p.width.value_or(side), p.height.value_or(side)} : Size{side, side};
      break;
    }
    case Kind::shape:
    case Kind::color:
      out = {p.width.value_or(10), p.height.value_or(10)};
      break;
    case Kind::textField: {
      // Fields take the width they are offered; a single line is as tall as its font, an editor
      // fills the height offered and shows at least three lines.
      double line = textSize("Ag", style, std::nullopt).height;
      double w = p.width.value_or(200);
      if (!s.flag) {
        out = {w, line + 2 * kFieldInsetY};
      } else {
        std::string text = s.textBinding.get();
        double inner = std::max(1.0, w - 2 * kFieldInsetX);
        double content = text.empty() ? line : textSize(text, style, inner).height;
        double natural = std::max(content, 3 * line) + 2 * kFieldInsetY;
        out = {w, p.height.value_or(natural)};
      }
      break;
    }
    case Kind::vstack:
    case Kind::hstack: {
      auto sizes = stackSizes(*this, node, p, style);
      double spacing = s.spacing.value_or(kDefaultSpacing);
      bool vertical = s.kind == Kind::vstack;
      double along = 0, cross = 0;
      for (auto& z : sizes) {
        along += vertical ? z.height : z.width;
        cross = std::max(cross, vertical ? z.width : z.height);
      }
      if (!sizes.empty()) along += spacing * static_cast<double>(sizes.size() - 1);
      out = vertical ? Size{cross, along} : Size{along, cross};
      break;
    }
    case Kind::group:
    case Kind::forEach:
    case Kind::section:
    case Kind::zstack:
      for (auto& c : node.children) {
        Size z = measure(*c, p, cs);
        if (s.kind == Kind::zstack) {
          out.width = std::max(out.width, z.width);
          out.height = std::max(out.height, z.height);
        } else {
          out.width = std::max(out.width, z.width);
          out.height += z.height;
        }
      }
      break;
    case Kind::scroll: {
      bool vertical = s.axis == Axis::vertical;
      Size content = node.content() ? measure(*node.content(),
                                              vertical ? Proposal{p.width, std::nullopt}
                                                       : Proposal{std::nullopt, p.height},
                                              cs)
                                    : Size{};
      out = {p.width.value_or(content.width), p.height.value_or(content.height)};
      break;
    }
    case Kind::grid: {
      double width = p.width.value_or(0);
      if (!p.width) {
        for (auto& c : s.columns) width += c.minimum + c.spacing.value_or(kDefaultSpacing);
      }
      out = {width, gridHeight(node, width, cs)};
      break;
    }
    case Kind::list:
    case Kind::navigationView:
      out = {p.width.value_or(options.size.width), p.height.value_or(options.size.height)};
      break;
    case Kind::button:
    case Kind::navigationLink:
    case Kind::component:
    case Kind::hosted:
      out = node.content() ? measure(*node.content(), p, cs) : Size{};
      break;
    case Kind::modifier: {
      Node* c = node.content();
      switch (s.mod) {
        case Mod::padding: {
          const EdgeInsets& in = s.insets;
          double h = in.leading + in.trailing, v = in.top + in.bottom;
          Proposal inner{
              p.width ? std::optional<double>(std::max(0.0, *p.width - h)) : std::nullopt,
              p.height ? std::optional<double>(std::max(0.0, *p.height - v)) : std::nullopt};
          Size z = c ? measure(*c, inner, cs) : Size{};
          out = {z.width + h, z.height + v};
          break;
        }
        case Mod::frameFixed: {
          Proposal inner{s.fixedWidth ? s.fixedWidth : p.width,
                         s.fixedHeight ? s.fixedHeight : p.height};
          Size z{};
          if (!s.fixedWidth || !s.fixedHeight) z = c ? measure(*c, inner, cs) : Size{};
          out = {s.fixedWidth.value_or(z.width), s.fixedHeight.value_or(z.height)};
          break;
        }
        case Mod::frameFlex:
          out = flexFrameSize(node, p, cs);
          break;
        default:
          out = c ? measure(*c, p, cs) : Size{};
          break;
      }
      break;
    }
  }
  if (!std::isfinite(out.width)) out.width = kBig;
  if (!std::isfinite(out.height)) out.height = kBig;
  node.measureCache.emplace_back(p, out);
  return out;
}

Size Tree::flexFrameSize(Node& node, Proposal p, const Style& cs) {
  const FrameOptions& f = node.blueprint->frame;
  Node* c = node.content();
  auto clampP = [](std::optional<double> prop, std::optional<double> lo,
                   std::optional<double> hi) -> std::optional<double> {
    if (!prop) return prop;
    double v = *prop;
    if (hi) v = std::min(v, *hi);
    if (lo) v = std::max(v, *lo);
    return v;
  };
  Proposal inner{clampP(p.width, f.minWidth, f.maxWidth),
                 clampP(p.height, f.minHeight, f.maxHeight)};
  if (!p.width && f.idealWidth) inner.width = f.idealWidth;
  if (!p.height && f.idealHeight) inner.height = f.idealHeight;
  Size z = c ? measure(*c, inner, cs) : Size{};
  auto resolve = [](double child, std::optional<double> prop, std::optional<double> lo,
                    std::optional<double> hi) {
    if (!lo && !hi) return child;
    double lower = lo ? *lo : child;
    double upper = hi ? *hi : child;
    if (upper < lower) upper = lower;
    double v = prop ? *prop : child;
    if (!prop && std::isinf(upper)) v = std::max(child, lower);
    return std::clamp(v, lower, upper);
  };
  return {resolve(z.width, p.width, f.minWidth, f.maxWidth),
          resolve(z.height, p.height, f.minHeight, f.maxHeight)};
}

// ---- Grids --------------------------------------------------------------------------------

double Tree::gridHeight(Node& node, double width, const Style& cs) {
  std::vector<RowSource> cells;
  flatten(node.blueprint->children, "", cells, false);
  auto cols = gridColumns(*node.blueprint, width);
  std::size_t n = std::max<std::size_t>(1, cols.size());
  std::size_t rows = (cells.size() + n - 1) / n;
  if (rows == 0) return 0;
  double spacing = node.blueprint->spacing.value_or(kDefaultSpacing);
  // Rows not built yet are estimated from the first row.
  double estimate = 0;
  for (std::size_t k = 0; k < std::min(n, cells.size()); ++k) {
    auto cell = buildRow(node, cells[k]);
    estimate = std::max(estimate, measure(*cell, {cols[k].width, std::nullopt}, cs).height);
  }
  double total = 0;
  for (std::size_t r = 0; r < rows; ++r) {
    auto it = node.rowHeights.find(std::to_string(r));
    total += it != node.rowHeights.end() ? it->second : estimate;
  }
  return total + spacing * static_cast<double>(rows - 1);
}

void Tree::placeGrid(Node& node, Rect frame, const Style& cs) {
  std::vector<RowSource> cells;
  flatten(node.blueprint->children, "", cells, false);
  pruneRows(node, cells);
  auto cols = gridColumns(*node.blueprint, frame.width);
  std::size_t n = std::max<std::size_t>(1, cols.size());
  std::size_t rows = (cells.size() + n - 1) / n;
  double spacing = node.blueprint->spacing.value_or(kDefaultSpacing);
  double margin = viewport.height / 2;
  double estimate = 0;
  node.visibleRows.clear();
  double y = frame.y;
  for (std::size_t r = 0; r < rows; ++r) {
    std::string rk = std::to_string(r);
    auto known = node.rowHeights.find(rk);
    double guess = known != node.rowHeights.end() ? known->second : estimate;
    bool visible = r == 0 || (y + guess >= viewport.y - margin && y <= viewport.maxY() + margin);
    if (visible) {
      double h = 0;
      std::vector<std::pair<std::shared_ptr<Node>, Size>> built;
      for (std::size_t k = 0; k < n && r * n + k < cells.size(); ++k) {
        auto cell = buildRow(node, cells[r * n + k]);
        Size z = measure(*cell, {cols[k].width, std::nullopt}, cs);
        h = std::max(h, z.height);
        built.emplace_back(cell, z);
      }
      for (std::size_t k = 0; k < built.size(); ++k) {
        Rect slot{frame.x + cols[k].x, y, cols[k].width, h};
        place(*built[k].first, alignIn(slot, built[k].second, Alignment::center()), cs);
        node.visibleRows.push_back(built[k].first);
      }
      if (node.rowHeights[rk] != h) needsLayout_ = needsLayout_ || r > 0;
      node.rowHeights[rk] = h;
      if (estimate == 0) estimate = h;
      guess = h;
    }
    y += guess + (r + 1 < rows ? spacing : 0);
  }
  node.contentSize = {frame.width, y - frame.y};
}

void Tree::pruneRows(Node& node, const std::vector<RowSource>& rows) {
  if (!node.rowsStale) return;
  node.rowsStale = false;
  std::unordered_set<std::string> keys;
  for (auto& r : rows) keys.insert(r.key);
  for (auto it = node.lazyRows.begin(); it != node.lazyRows.end();) {
    if (!keys.count(it->first)) {
      detach(*it->second);
      node.swipeOffsets.erase(it->first);
      it = node.lazyRows.erase(it);
    } else {
      ++it;
    }
  }
}

// ---- Lists and forms ----------------------------------------------------------------------

bool Tree::isGrouped(const Node& list) const {
  if (list.blueprint->flag) return true;  // a form
  ListStyle style = list.blueprint->listStyle;
  for (Node* p = list.parent; p; p = p->parent) {
    if (p->isModifier(Mod::listStyle)) {
      style = p->blueprint->listStyle;
      break;
    }
    if (p->blueprint->kind != Kind::modifier && p->blueprint->kind != Kind::component) break;
  }
  return style == ListStyle::grouped || style == ListStyle::insetGrouped;
}

void Tree::placeList(Node& node, Rect frame, const Style& style) {
  std::vector<RowSource> rows;
  flatten(node.blueprint->children, "", rows, true);
  pruneRows(node, rows);
  bool grouped = isGrouped(node);
  double margin = std::max(200.0, frame.height / 2);
  const double cardInset = grouped ? 16 : 0;
  const double rowLeading = grouped ? 16 : 20;
  node.visibleRows.clear();
  Style cs = style;
  cs.inStack = false;
  double estimate = kRowMinHeight;
  if (!node.rowHeights.empty()) {
    double sum = 0;
    for (auto& [k, h] : node.rowHeights) sum += h;
    estimate = sum / static_cast<double>(node.rowHeights.size());
  }
  // Clamp the offset against the estimated height first, so a far scroll lands on real rows.
  {
    double total = 0;
    for (const RowSource& row : rows) {
      if (row.sectionHeader) {
        total += grouped ? 35 : 0;
        if (row.view) total += 30;
        continue;
      }
      auto known = node.rowHeights.find(row.key);
      total += known != node.rowHeights.end() ? known->second : estimate;
    }
    double maxOffset = std::max(0.0, total - frame.height);
    node.scrollOffset.y = std::clamp(node.scrollOffset.y, 0.0, maxOffset);
  }
  double y = 0;
  int lastSection = -2;
  Rect visible{frame.x, frame.y + node.scrollOffset.y - margin, frame.width,
               frame.height + 2 * margin};
  Rect saved = viewport;
  viewport = intersect(viewport, frame);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const RowSource& row = rows[i];
    if (row.sectionHeader) {
      y += grouped ? (lastSection == -2 ? 18 : 35) : 0;
      lastSection = row.section;
      if (!row.view) continue;
      auto header = buildRow(node, row);
      Style hs = cs;
      hs.font = grouped ? Font::footnote() : Font::headline();
      if (!hs.foreground) hs.foreground = grouped ? Color::gray() : labelColor(options.colorScheme);
      Size z = measure(*header, {frame.width - 2 * cardInset - 2 * rowLeading, std::nullopt}, hs);
      double h = z.height + (grouped ? 8 : 12);
      Rect hf{frame.x + cardInset + rowLeading,
              frame.y + y - node.scrollOffset.y + (grouped ? 0 : 6), z.width, z.height};
      header->rowFrame = {frame.x, frame.y + y - node.scrollOffset.y, frame.width, h};
      place(*header, hf, hs);
      header->style = hs;
      node.visibleRows.push_back(header);
      y += h;
      continue;
    }
    if (row.section != lastSection) {
      lastSection = row.section;
      if (grouped) y += (i == 0 ? 18 : 35);
    }
    auto known = node.rowHeights.find(row.key);
    double guess = known != node.rowHeights.end() ? known->second : estimate;
    double top = frame.y + y;
    if (top + guess < visible.y || top > visible.maxY()) {
      y += guess;
      continue;
    }
    auto rowNode = buildRow(node, row);
    double contentWidth = frame.width - 2 * cardInset - rowLeading - 20;
    Size z = measure(*rowNode, {contentWidth, std::nullopt}, cs);
    double h = std::max(kRowMinHeight, z.height + 12);
    node.rowHeights[row.key] = h;
    Rect rf{frame.x + cardInset, frame.y + y - node.scrollOffset.y, frame.width - 2 * cardInset, h};
    rowNode->rowFrame = rf;
    double offset = 0;
    if (auto it = node.swipeOffsets.find(row.key); it != node.swipeOffsets.end())
      offset = it->second;
    Node* swipeMod = swipeModifierOf(rowNode.get());
    // Trailing actions slide the row towards the leading edge; leading ones the other way.
    bool leadingActions = swipeMod && swipeMod->blueprint->hAlign == HorizontalAlignment::leading;
    double shift = leadingActions ? offset : -offset;
    Rect cf{rf.x + rowLeading + shift, rf.y + (h - z.height) / 2, contentWidth, z.height};
    place(*rowNode, cf, cs);
    if (Node* bg = findModifier(rowNode.get(), Mod::rowBackground, false)) {
      if (bg->children.size() > 1) place(*bg->children[1], rf, cs);
    }
    if (Node* swipe = swipeModifierOf(rowNode.get())) {
      double total = 0;
      std::vector<double> widths;
      for (std::size_t k = 1; k < swipe->children.size(); ++k) {
        Size lz = measure(*swipe->children[k], {std::nullopt, h}, cs);
        widths.push_back(std::max(kSwipeActionMinWidth, lz.width + 32));
        total += widths.back();
      }
      double x = leadingActions ? rf.x : rf.maxX() - offset;
      for (std::size_t k = 1; k < swipe->children.size(); ++k) {
        double w = total > 0 ? offset * widths[k - 1] / total : 0;
        Node& action = *swipe->children[k];
        Size lz = measure(action, {std::nullopt, h}, cs);
        action.rowFrame = {x, rf.y, w, h};
        place(action, alignIn({x, rf.y, w, h}, lz, Alignment::center()), cs);
        x += w;
      }
      swipe->contentSize = {total, h};
    }
    node.visibleRows.push_back(rowNode);
    y += h;
  }
  viewport = saved;
  node.contentSize = {frame.width, y + (grouped ? 20 : 0)};
  double maxOffset = std::max(0.0, node.contentSize.height - frame.height);
  if (node.scrollOffset.y > maxOffset) {
    node.scrollOffset.y = maxOffset;
    needsLayout_ = true;
  }
}

// ---- Navigation ---------------------------------------------------------------------------

void Tree::placeNavigation(Node& node, Rect frame, const Style& style) {
  Node* screen = visibleScreen(node);
  bool root = node.stack.empty();
  Node* titleMod = findModifier(screen, Mod::navTitle, true);
  Node* modeMod = findModifier(screen, Mod::navTitleMode, true);
  node.title = titleMod ? titleMod->blueprint->text : std::string();
  NavigationBarTitleDisplayMode mode =
      modeMod ? modeMod->blueprint->titleMode : NavigationBarTitleDisplayMode::automatic;
  if (mode == NavigationBarTitleDisplayMode::automatic) {
    // The root's automatic title is large; a pushed screen's is small, in the bar.
    mode = root ? NavigationBarTitleDisplayMode::large : NavigationBarTitleDisplayMode::inlineMode;
  }
  node.largeTitle = mode == NavigationBarTitleDisplayMode::large && !node.title.empty();
  double top = frame.y <= options.safeArea.top + 0.5 ? options.safeArea.top : 0;
  node.barFrame = {frame.x, frame.y, frame.width, top + kNavBarHeight};
  double contentTop = node.barFrame.maxY() + (node.largeTitle ? kLargeTitleHeight : 0);
  Rect content{frame.x, contentTop, frame.width, frame.maxY() - contentTop};
  Style cs = style;
  cs.inStack = false;
  if (screen) {
    Size z = measure(*screen, {content.width, content.height}, cs);
    place(*screen, alignIn(content, z, Alignment::top()), cs);
  }
  // The bar: back button, leading items, title, trailing items.
  Rect bar{frame.x, frame.y + top, frame.width, kNavBarHeight};
  double leadingX = bar.x + 16;
  node.backFrame = {};
  node.backTitle.clear();
  if (!root) {
    Node* below =
        node.stack.size() >= 2 ? node.stack[node.stack.size() - 2].screen.get() : node.content();
    Node* belowTitle = findModifier(below, Mod::navTitle, true);
    node.backTitle =
        belowTitle && belowTitle->blueprint->text.size() <= 12 && !belowTitle->blueprint->text.empty()
            ? belowTitle->blueprint->text
            : "Back";
    Style bs;
    Size tz = textSize(node.backTitle, bs, std::nullopt);
    node.backFrame = {bar.x + 8, bar.y, 20 + tz.width + 8, bar.height};
    leadingX = node.backFrame.maxX() + 8;
  }
  node.toolbar = findModifier(screen, Mod::toolbar, true);
  if (node.toolbar) {
    Style ts = cs;
    ts.insideButton = false;
    double trailingX = bar.maxX() - 16;
    const auto& placements = node.toolbar->blueprint->placements;
    for (std::size_t k = 1; k < node.toolbar->children.size(); ++k) {
      Node& item = *node.toolbar->children[k];
      Size z = measure(item, {std::nullopt, kNavBarHeight}, ts);
      bool leading =
          k - 1 < placements.size() && placements[k - 1] == ToolbarPlacement::navigationBarLeading;
      if (leading) {
        place(item, {leadingX, bar.y + (bar.height - z.height) / 2, z.width, z.height}, ts);
        leadingX += z.width + 16;
      } else {
        trailingX -= z.width;
        place(item, {trailingX, bar.y + (bar.height - z.height) / 2, z.width, z.height}, ts);
        trailingX -= 16;
      }
    }
  }
}

// ---- Place --------------------------------------------------------------------------------

Rect Tree::intersect(Rect a, Rect b) {
  double x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
  return {x0, y0, std::max(0.0, x1 - x0), std::max(0.0, y1 - y0)};
}

void Tree::place(Node& node, Rect frame, const Style& style) {
  node.frame = frame;
  node.style = style;
  const Blueprint& s = *node.blueprint;
  Style cs = childStyle(node, style);
  switch (s.kind) {
    case Kind::vstack:
    case Kind::hstack: {
      bool vertical = s.kind == Kind::vstack;
      auto sizes = stackSizes(*this, node, {frame.width, frame.height}, style);
      Style ks = cs;
      ks.inStack = true;
      ks.stackAxis = vertical ? Axis::vertical : Axis::horizontal;
      double spacing = s.spacing.value_or(kDefaultSpacing);
      double pos = vertical ? frame.y : frame.x;
      for (std::size_t i = 0; i < node.children.size(); ++i) {
        Size z = sizes[i];
        Rect r;
        if (vertical) {
          r = {frame.x + alignOffset(s.hAlign, frame.width, z.width), pos, z.width, z.height};
          pos += z.height + spacing;
        } else {
          r = {pos, frame.y + alignOffset(s.vAlign, frame.height, z.height), z.width, z.height};
          pos += z.width + spacing;
        }
        place(*node.children[i], r, ks);
      }
      break;
    }
    case Kind::zstack:
      for (auto& c : node.children) {
        Size z = measure(*c, {frame.width, frame.height}, cs);
        place(*c, alignIn(frame, z, s.alignment), cs);
      }
      break;
    case Kind::group:
    case Kind::forEach:
    case Kind::section: {
      double y = frame.y;
      for (auto& c : node.children) {
        Size z = measure(*c, {frame.width, std::nullopt}, cs);
        place(*c, {frame.x, y, z.width, z.height}, cs);
        y += z.height;
      }
      break;
    }
    case Kind::scroll: {
      Node* c = node.content();
      if (!c) break;
      bool vertical = s.axis == Axis::vertical;
      Size z = measure(
          *c, vertical ? Proposal{frame.width, std::nullopt} : Proposal{std::nullopt, frame.height},
          cs);
      node.contentSize = z;
      double maxOffset =
          vertical ? std::max(0.0, z.height - frame.height) : std::max(0.0, z.width - frame.width);
      double& off = vertical ? node.scrollOffset.y : node.scrollOffset.x;
      off = std::clamp(off, 0.0, maxOffset);
      Rect saved = viewport;
      viewport = intersect(viewport, frame);
      Rect cr = vertical
                    ? Rect{frame.x + std::max(0.0, (frame.width - z.width) / 2), frame.y - off,
                           z.width, z.height}
                    : Rect{frame.x - off, frame.y + std::max(0.0, (frame.height - z.height) / 2),
                           z.width, z.height};
      place(*c, cr, cs);
      viewport = saved;
      break;
    }
    case Kind::grid:
      placeGrid(node, frame, cs);
      break;
    case Kind::list:
      placeList(node, frame, cs);
      break;
    case Kind::navigationView:
      placeNavigation(node, frame, cs);
      break;
    case Kind::button:
    case Kind::navigationLink:
    case Kind::component:
    case Kind::hosted:
      if (node.content()) place(*node.content(), frame, cs);
      break;
    case Kind::modifier: {
      Node* c = node.content();
      if (!c) break;
      switch (s.mod) {
        case Mod::padding: {
          const EdgeInsets& in = s.insets;
          place(*c,
                {frame.x + in.leading, frame.y + in.top,
                 std::max(0.0, frame.width - in.leading - in.trailing),
                 std::max(0.0, frame.height - in.top - in.bottom)},
                cs);
          break;
        }
        case Mod::frameFixed:
        case Mod::frameFlex: {
          Size z = measure(*c, {frame.width, frame.height}, cs);
          place(*c, alignIn(frame, z, s.alignment), cs);
          break;
        }
        case Mod::ignoresSafeArea: {
          Rect r = frame;
          const EdgeInsets& sa = options.safeArea;
          if (s.edges.has(Edges::top) && r.y <= sa.top + 0.5) {
            r.height += r.y;
            r.y = 0;
          }
          if (s.edges.has(Edges::leading) && r.x <= sa.leading + 0.5) {
            r.width += r.x;
            r.x = 0;
          }
          if (s.edges.has(Edges::bottom) && r.maxY() >= options.size.height - sa.bottom - 0.5) {
            r.height = options.size.height - r.y;
          }
          if (s.edges.has(Edges::trailing) && r.maxX() >= options.size.width - sa.trailing - 0.5) {
            r.width = options.size.width - r.x;
          }
          node.frame = r;
          place(*c, r, cs);
          break;
        }
        case Mod::background:
        case Mod::overlay: {
          place(*c, frame, cs);
          if (node.children.size() > 1) {
            Node& deco = *node.children[1];
            Style ds = cs;
            ds.inStack = false;
            Size z = measure(deco, {frame.width, frame.height}, ds);
            place(deco, alignIn(frame, z, s.alignment), ds);
          }
          break;
        }
        default:
          // Row decorations, swipe actions and toolbar items are placed by their list or bar.
          place(*c, frame, cs);
          break;
      }
      break;
    }
    default:
      break;
  }
}

// ---- Popovers ----------------------------------------------------------------------------

namespace {
constexpr double kPopoverArrow = 12;
constexpr double kPopoverMargin = 10;
constexpr double kPopoverMaxWidth = 375;
constexpr double kPopoverMaxHeight = 500;
}  // namespace

// The box takes its content's size within limits and sits below the anchor when it fits there,
// else above it, else on whichever side has more room; it never leaves the window.
void Tree::placePopover(Presentation& p, const Style& style) {
  Rect window{0, 0, options.size.width, options.size.height};
  double maxW = std::max(1.0, std::min(kPopoverMaxWidth, window.width - 2 * kPopoverMargin));
  double maxH = std::max(
      1.0, std::min(kPopoverMaxHeight, window.height - 2 * kPopoverMargin - kPopoverArrow));
  Style cs = style;
  Size z = measure(*p.content, {maxW, std::nullopt}, cs);
  if (!std::isfinite(z.height) || z.height <= 0 || z.height > maxH) z.height = maxH;
  double w = std::clamp(z.width, std::min(120.0, maxW), maxW);
  double h = std::max(std::min(44.0, maxH), z.height);
  Rect a = p.anchor;
  a.x = std::clamp(a.x, 0.0, window.width);
  a.y = std::clamp(a.y, 0.0, window.height);
  double below = window.height - kPopoverMargin - (a.maxY() + kPopoverArrow);
  double above = a.y - kPopoverArrow - kPopoverMargin;
  p.arrowUp = below >= h || (above < h && below >= above);
  double y = p.arrowUp ? a.maxY() + kPopoverArrow : a.y - kPopoverArrow - h;
  y = std::clamp(y, kPopoverMargin, std::max(kPopoverMargin, window.height - kPopoverMargin - h));
  double x = std::clamp(a.center().x - w / 2, kPopoverMargin,
                        std::max(kPopoverMargin, window.width - kPopoverMargin - w));
  p.frame = {x, y + p.dragOffset, w, h};
  double inset = std::min(20.0, w / 2);
  double tipX = std::clamp(a.center().x, x + inset, x + w - inset);
  p.arrowTip = {tipX, p.arrowUp ? p.frame.y - kPopoverArrow : p.frame.maxY() + kPopoverArrow};
  viewport = p.frame;
  Size inner = measure(*p.content, {w, h}, cs);
  place(*p.content,
        alignIn(p.frame, {std::min(inner.width, w), std::min(inner.height, h)}, Alignment::top()),
        cs);
}

bool Tree::popoverContains(const Presentation& p, Point point) const {
  if (p.frame.contains(point)) return true;
  // The arrow's own triangle counts as part of the popover.
  double dy = p.arrowUp ? p.frame.y - point.y : point.y - p.frame.maxY();
  return dy >= 0 && dy <= kPopoverArrow && std::abs(point.x - p.arrowTip.x) <= kPopoverArrow - dy;
}

void Tree::layout() {
  ++generation;
  Rect window{0, 0, options.size.width, options.size.height};
  const EdgeInsets& sa = options.safeArea;
  Rect safe{sa.leading, sa.top, window.width - sa.leading - sa.trailing,
            window.height - sa.top - sa.bottom};
  windowFrames.clear();
  Style style;
  viewport = window;
  if (root) {
    Size z = measure(*root, {safe.width, safe.height}, style);
    place(*root, alignIn(safe, z, Alignment::center()), style);
  }
  windowFrames.push_back(window);
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    auto& p = sheets[i];
    if (p.popover) {
      placePopover(p, style);
      windowFrames.push_back(p.frame);
      continue;
    }
    Rect f;
    if (options.idiom == UserInterfaceIdiom::pad) {
      double w = std::min(540.0, window.width), h = std::min(620.0, window.height - 40);
      f = {(window.width - w) / 2, (window.height - h) / 2 + p.dragOffset, w, h};
    } else {
      double top = sa.top + 10 + 10 * static_cast<double>(i);
      f = {0, top + p.dragOffset, window.width, window.height - top};
    }
    p.frame = f;
    viewport = f;
    Rect inner{f.x, f.y, f.width,
               f.height - (options.idiom == UserInterfaceIdiom::pad ? 0 : sa.bottom)};
    Size z = measure(*p.content, {inner.width, inner.height}, style);
    place(*p.content, alignIn(inner, z, Alignment::top()), style);
    windowFrames.push_back(f);
  }
  render(nullptr, true);
  dropLostFocus();
  // Lazy rows that found their true heights move what follows them: settle on the next turn.
  if (needsLayout_) scheduleUpdate();
}

}  // namespace platform::ui::detail
