// Points, sizes, rectangles, insets and alignments of the UI layer, in points (1 point is one
// pixel at scale 1). Plain values; thread-safe to copy.
#pragma once

#include <algorithm>
#include <limits>

namespace platform::ui {

// A flexible frame's unbounded maximum: `.frame({.maxWidth = infinity})`.
inline constexpr double infinity = std::numeric_limits<double>::infinity();

// The toolkit's defaults: stack and grid spacing, and padding when no length is given.
inline constexpr double kDefaultSpacing = 8;
inline constexpr double kDefaultPadding = 16;

struct Point {
  double x = 0;
  double y = 0;
};

struct Size {
  double width = 0;
  double height = 0;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  double midX() const { return x + width / 2; }
  double midY() const { return y + height / 2; }
  Point center() const { return {midX(), midY()}; }
  Size size() const { return {width, height}; }
  bool contains(Point p) const { return p.x >= x && p.x < x + width && p.y >= y && p.y < y + height; }
  bool intersects(const Rect& r) const {
    return r.x < maxX() && x < r.maxX() && r.y < maxY() && y < r.maxY();
  }
  Rect inset(double dx, double dy) const { return {x + dx, y + dy, width - 2 * dx, height - 2 * dy}; }
  Rect offset(double dx, double dy) const { return {x + dx, y + dy, width, height}; }
};

struct EdgeInsets {
  double top = 0;
  double leading = 0;
  double bottom = 0;
  double trailing = 0;
};

// A set of edges: `Edges::top | Edges::leading`. A type of its own, so that `padding(Edges::top)`
// never reads as a length.
struct Edges {
  unsigned bits = 15;
  constexpr Edges() = default;
  constexpr explicit Edges(unsigned b) : bits(b) {}
  static const Edges top, leading, bottom, trailing, horizontal, vertical, all;
  constexpr bool has(Edges e) const { return (bits & e.bits) != 0; }
  friend constexpr Edges operator|(Edges a, Edges b) { return Edges(a.bits | b.bits); }
  friend constexpr bool operator==(Edges a, Edges b) { return a.bits == b.bits; }
};
inline constexpr Edges Edges::top{1};
inline constexpr Edges Edges::leading{2};
inline constexpr Edges Edges::bottom{4};
inline constexpr Edges Edges::trailing{8};
inline constexpr Edges Edges::horizontal{2 | 8};
inline constexpr Edges Edges::vertical{1 | 4};
inline constexpr Edges Edges::all{15};

enum class HorizontalAlignment { leading, center, trailing };
enum class VerticalAlignment { top, center, bottom };

struct Alignment {
  HorizontalAlignment horizontal = HorizontalAlignment::center;
  VerticalAlignment vertical = VerticalAlignment::center;

  static constexpr Alignment center() { return {}; }
  static constexpr Alignment leading() { return {HorizontalAlignment::leading, VerticalAlignment::center}; }
  static constexpr Alignment trailing() { return {HorizontalAlignment::trailing, VerticalAlignment::center}; }
  static constexpr Alignment top() { return {HorizontalAlignment::center, VerticalAlignment::top}; }
  static constexpr Alignment bottom() { return {HorizontalAlignment::center, VerticalAlignment::bottom}; }
  static constexpr Alignment topLeading() { return {HorizontalAlignment::leading, VerticalAlignment::top}; }
  static constexpr Alignment topTrailing() { return {HorizontalAlignment::trailing, VerticalAlignment::top}; }
  static constexpr Alignment bottomLeading() { return {HorizontalAlignment::leading, VerticalAlignment::bottom}; }
  static constexpr Alignment bottomTrailing() { return {HorizontalAlignment::trailing, VerticalAlignment::bottom}; }
};

enum class Axis { horizontal, vertical };
enum class TextAlignment { leading, center, trailing };

}  // namespace platform::ui
