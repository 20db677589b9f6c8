// Views as values: the building blocks (stacks, text, images, shapes, lists, grids, forms,
// navigation, sheets) and their modifiers, chained as methods that return a new view. A view
// value is an immutable description; the Host keeps the retained tree built from it.
// Values may be made on any thread; bodies are evaluated on the main thread only.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <vector>

#include "platform/ui/Geometry.h"
#include "platform/ui/State.h"
#include "platform/ui/Style.h"

namespace platform::ui {

namespace detail {
struct Blueprint;
}  // namespace detail

class View;
class Shape;

// A view value that describes its content through `View body() const`.
template <class T>
concept ViewComponent = requires(const T& t) {
  { t.body() } -> std::convertible_to<View>;
};
// A custom modifier: `View body(View content) const`.
template <class M>
concept ViewModifier = requires(const M& m, View content) {
  { m.body(content) } -> std::convertible_to<View>;
};

enum class Visibility { automatic, visible, hidden };
enum class HorizontalEdge { leading, trailing };
enum class ListStyle { automatic, plain, grouped, insetGrouped };
enum class NavigationBarTitleDisplayMode { automatic, inlineMode, large };
enum class ToolbarPlacement { automatic, navigationBarLeading, navigationBarTrailing };
enum class ImageResizingMode { stretch, tile };

// A flexible frame; unset fields do not constrain. `.frame({.maxWidth = infinity})`.
struct FrameOptions {
  std::optional<double> minWidth{};
  std::optional<double> idealWidth{};
  std::optional<double> maxWidth{};
  std::optional<double> minHeight{};
  std::optional<double> idealHeight{};
  std::optional<double> maxHeight{};
  Alignment alignment = Alignment::center();
};

struct ToolbarItem;

class View {
 public:
  // The empty view: takes no space, draws nothing.
  View();
  // A view struct with a body. Its identity is its type and place in the parent; its state() and
  // stateObject() slots live as long as that identity stays in the tree.
  template <ViewComponent T>
  View(T component)  // NOLINT: view structs convert implicitly, like the toolkit's
      : View(makeComponent(std::type_index(typeid(T)),
                           [c = std::move(component)]() -> View { return c.body(); })) {}
  // A colour fills the space it is offered.
  View(Color color);  // NOLINT

  // ---- Layout
  View padding(double length = kDefaultPadding) const;
  View padding(Edges edges, double length = kDefaultPadding) const;
  View padding(EdgeInsets insets) const;
  // A fixed frame; the content is placed inside by `alignment`.
  View frame(std::optional<double> width, std::optional<double> height,
             Alignment alignment = Alignment::center()) const;
  View frame(const FrameOptions& options) const;
  View edgesIgnoringSafeArea(Edges edges = Edges::all) const;

  // ---- Decoration
  View background(View background, Alignment alignment = Alignment::center()) const;
  View overlay(View overlay, Alignment alignment = Alignment::center()) const;
  View clipShape(const Shape& shape) const;
  View shadow(Color color, double radius, double x = 0, double y = 0) const;
  View opacity(double opacity) const;

  // ---- Text and tint (inherited by everything inside)
  View font(Font font) const;
  View fontWeight(FontWeight weight) const;
  View bold() const;
  View foregroundColor(Color color) const;
  View tint(Color color) const;
  View multilineTextAlignment(TextAlignment alignment) const;

  // ---- Identity and interaction
  // An explicit identity: a view with a new id is a new view (fresh state).
  View id(std::string id) const;
  // The name TestHost::findId looks up.
  View accessibilityIdentifier(std::string identifier) const;
  View onTapGesture(std::function<void()> action) const;
  View disabled(bool disabled = true) const;

  // ---- Lists and forms
  View listStyle(ListStyle style) const;
  View listRowSeparator(Visibility visibility, Edges edges = Edges::all) const;
  View listRowBackground(View background) const;
  // Actions revealed by swiping the row towards `edge`'s opposite side. With allowsFullSwipe a
  // long swipe runs the first action; without it a long swipe only reveals them.
  View swipeActions(HorizontalEdge edge, bool allowsFullSwipe, std::vector<View> actions) const;

  // ---- Navigation and presentation
  View navigationTitle(std::string title) const;
  View navigationBarTitleDisplayMode(NavigationBarTitleDisplayMode mode) const;
  View toolbar(std::vector<ToolbarItem> items) const;
  // A modal sheet shown while `isPresented` is true. Interactive dismissal (Escape, a downward
  // drag, TestHost::dismissSheet) and environment().dismiss() lower the binding; `onDismiss`
  // runs after the sheet is gone, whatever closed it. `content` is a body (state() allowed).
  View sheet(Binding<bool> isPresented, std::function<void()> onDismiss,
             std::function<View()> content) const;

  // ---- Custom modifiers: `M` has `View body(View content) const` (state() allowed in it).
  template <ViewModifier M>
  View modifier(M m) const {
    View content = *this;
    return makeComponent(std::type_index(typeid(M)),
                         [m = std::move(m), content]() -> View { return m.body(content); });
  }

  const std::shared_ptr<const detail::Blueprint>& blueprint() const { return blueprint_; }
  explicit View(std::shared_ptr<const detail::Blueprint> blueprint) : blueprint_(std::move(blueprint)) {}

 protected:
  static View makeComponent(std::type_index type, std::function<View()> body);

 private:
  std::shared_ptr<const detail::Blueprint> blueprint_;
};

// A shape fills the space it is offered with the foreground colour unless stroked or filled.
class Shape : public View {
 public:
  View fill(Color color) const;
  // A line centred on the shape's outline (butt cap, miter join).
  View stroke(Color color, double lineWidth = 1) const;
  explicit Shape(std::shared_ptr<const detail::Blueprint> blueprint) : View(std::move(blueprint)) {}
};

class ImageView : public View {
 public:
  // Scales to the offered size (stretch) or repeats at its natural size (tile). Cap insets keep
  // their edges unscaled; zero insets scale or tile the whole picture.
  ImageView resizable(EdgeInsets capInsets = {}, ImageResizingMode mode = ImageResizingMode::stretch) const;
  explicit ImageView(std::shared_ptr<const detail::Blueprint> blueprint) : View(std::move(blueprint)) {}
};

struct ToolbarItem {
  ToolbarPlacement placement = ToolbarPlacement::automatic;
  View content;
};

struct VStackOptions {
  HorizontalAlignment alignment = HorizontalAlignment::center;
  std::optional<double> spacing{};
};
struct HStackOptions {
  VerticalAlignment alignment = VerticalAlignment::center;
  std::optional<double> spacing{};
};

// A grid column description.
struct GridItem {
  enum class Kind { fixed, flexible, adaptive };
  Kind kind = Kind::flexible;
  double minimum = 10;
  double maximum = infinity;
  std::optional<double> spacing{};  // before the next column; kDefaultSpacing when unset
  Alignment alignment = Alignment::center();

  static GridItem fixed(double size, std::optional<double> spacing = {});
  static GridItem flexible(double minimum = 10, double maximum = infinity,
                           std::optional<double> spacing = {});
  // As many columns of at least `minimum` as fit; the spare width is shared among them.
  static GridItem adaptive(double minimum, double maximum = infinity,
                           std::optional<double> spacing = {});
};
struct LazyVGridOptions {
  HorizontalAlignment alignment = HorizontalAlignment::center;
  std::optional<double> spacing{};  // between rows; kDefaultSpacing when unset
};

// ---- Building blocks
View EmptyView();
// Transparent grouping: its children join the parent's list of children.
View Group(std::vector<View> children);
View VStack(std::vector<View> children);
View VStack(VStackOptions options, std::vector<View> children);
View HStack(std::vector<View> children);
View HStack(HStackOptions options, std::vector<View> children);
View ZStack(std::vector<View> children);
View ZStack(Alignment alignment, std::vector<View> children);
// Flexible space along the enclosing stack's axis, at least `minLength` (kDefaultSpacing).
View Spacer(std::optional<double> minLength = {});

View Text(std::string text);

// An image of the bundle's asset folder: <bundle>/Assets/<name>.png. A missing asset takes no
// space, draws nothing and reports nothing.
ImageView Image(std::string name);
// A drawn symbol ("heart.fill", "heart", "gear", "xmark.octagon", "square.and.arrow.up",
// "chevron.left", "envelope", "questionmark.circle", "star", "star.fill", "play.fill",
// "stop.fill", "xmark"), sized by the font and coloured by the foreground colour.
ImageView SystemImage(std::string symbolName);
bool isKnownSymbol(const std::string& symbolName);

Shape Rectangle();
Shape Circle();
Shape RoundedRectangle(double cornerRadius);
Shape Capsule();

View Button(std::string title, std::function<void()> action);

// An editable single line of text: a tap focuses it and shows the caret, typing edits `text`
// (line breaks are left out); Return ends editing. `placeholder` shows, dimmed, while it is empty.
View TextField(std::string placeholder, Binding<std::string> text);
// Editable multi-line text that fills the space it is offered (at least a few lines); Return
// starts a new line.
View TextEditor(Binding<std::string> text);
View Button(std::function<void()> action, View label);

View ScrollView(View content);
View ScrollView(Axis axis, bool showsIndicators, View content);
View LazyVGrid(std::vector<GridItem> columns, LazyVGridOptions options, std::vector<View> content);

// Rows by index (identity = index). In List and LazyVGrid rows are built only when they come
// into view (plus a margin); in stacks all at once. `row` is a body (state() allowed).
View ForEach(std::size_t count, std::function<View(std::size_t)> row);
// Rows by id (identity = ids[i]).
View ForEach(std::vector<std::string> ids, std::function<View(std::size_t)> row);

View List(std::vector<View> content);
View Form(std::vector<View> content);
View Section(std::vector<View> rows);
View Section(View header, std::vector<View> rows);

View NavigationView(View root);
// Pushes `destination()` (a body) onto the enclosing navigation stack when tapped.
View NavigationLink(std::function<View()> destination, View label);
View NavigationLink(std::string title, std::function<View()> destination);

// ---- A controller-backed view (the hosted mail composer, for instance). The framework makes
// the coordinator and then the controller once, when the view first appears, keeps both while it
// stays in the tree, and shows the view the controller returns from body(). The controller is an
// ObservableObject: announcing a change rebuilds its view.
class HostedController : public ObservableObject {
 public:
  virtual View body() = 0;
};
struct RepresentableContext {
  std::shared_ptr<void> coordinator;
  Environment environment;
};
View ViewControllerRepresentable(
    std::function<std::shared_ptr<void>()> makeCoordinator,
    std::function<std::shared_ptr<HostedController>(const RepresentableContext&)> makeController,
    std::function<void(HostedController&, const RepresentableContext&)> updateController = {});

}  // namespace platform::ui
