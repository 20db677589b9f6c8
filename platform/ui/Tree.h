// Internals of the UI layer: the view description (Blueprint), the retained node, and the tree that
// builds, lays out, draws and routes input for one Host. Not for use outside platform/ui.
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "platform/ui/Host.h"
#include "platform/ui/View.h"

typedef struct _cairo_surface cairo_surface_t;

namespace platform::ui::detail {

enum class Kind {
  empty, group, vstack, hstack, zstack, spacer, text, image, symbol, shape, color, button,
  scroll, grid, forEach, list, section, navigationView, navigationLink, component, hosted, modifier,
  textField
};
enum class ShapeKind { rectangle, circle, roundedRectangle, capsule };
enum class Mod {
  padding, frameFixed, frameFlex, ignoresSafeArea, background, overlay, clipShape, shadow,
  opacity, font, fontWeight, foregroundColor, tint, textAlignment, id, accessibilityId, onTap,
  disabled, listStyle, rowSeparator, rowBackground, swipeActions, navTitle, navTitleMode,
  toolbar, sheet, fill, stroke
};

struct Blueprint {
  Kind kind = Kind::empty;
  Mod mod = Mod::padding;
  std::vector<View> children;  // content first; a modifier's extra views after it
  std::string text;            // text, asset or symbol name, title, id
  std::optional<double> spacing;
  double number = 0;           // spacer length, corner radius, opacity, radius, line width
  Alignment alignment;
  HorizontalAlignment hAlign = HorizontalAlignment::center;
  VerticalAlignment vAlign = VerticalAlignment::center;
  Axis axis = Axis::vertical;
  bool flag = false;           // shows indicators, full swipe, resizable, disabled
  Color color;
  Font font;
  FontWeight weight = FontWeight::regular;
  TextAlignment textAlignment = TextAlignment::leading;
  EdgeInsets insets;
  Edges edges;
  std::optional<double> fixedWidth, fixedHeight;
  FrameOptions frame;
  ShapeKind shape = ShapeKind::rectangle;
  double cornerRadius = 0;
  Point offset;
  std::vector<GridItem> columns;
  ImageResizingMode resizing = ImageResizingMode::stretch;
  Visibility visibility = Visibility::automatic;
  ListStyle listStyle = ListStyle::automatic;
  NavigationBarTitleDisplayMode titleMode = NavigationBarTitleDisplayMode::automatic;
  std::vector<ToolbarPlacement> placements;  // one per extra child of a toolbar modifier
  std::function<View()> body;                // component, destination, sheet content
  std::function<void()> action;
  std::function<View(std::size_t)> row;
  std::size_t count = 0;
  std::vector<std::string> ids;
  Binding<bool> binding;
  Binding<std::string> textBinding;  // text fields and editors (flag: multi-line)
  std::function<void()> onDismiss;
  std::optional<std::type_index> type;
  std::function<std::shared_ptr<void>()> makeCoordinator;
  std::function<std::shared_ptr<HostedController>(const RepresentableContext&)> makeController;
  std::function<void(HostedController&, const RepresentableContext&)> updateController;
};

class Tree;

// What a parent hands down: the text style and tint that modifiers above set.
struct Style {
  Font font = Font::body();
  std::optional<FontWeight> weight;
  std::optional<Color> foreground;
  std::optional<Color> tint;
  TextAlignment textAlignment = TextAlignment::leading;
  bool insideButton = false;
  Axis stackAxis = Axis::vertical;
  bool inStack = false;
};

struct Proposal {
  std::optional<double> width, height;
  bool operator==(const Proposal&) const = default;
};

// One retained view. Children are owned; the parent pointer is raw (the parent owns us).
class Node : public std::enable_shared_from_this<Node> {
 public:
  Tree* tree = nullptr;
  Node* parent = nullptr;
  std::shared_ptr<const Blueprint> blueprint;
  std::string key;
  std::vector<std::shared_ptr<Node>> children;
  bool attached = true;

  // Bodies: state slots, observations, dirty flag and environment.
  std::vector<std::shared_ptr<StateSlotBase>> slots;
  std::vector<std::shared_ptr<void>> observations;
  bool dirty = false;
  Environment env;

  // Hosted controller.
  std::shared_ptr<void> coordinator;
  std::shared_ptr<HostedController> controller;

  // Layout results.
  Rect frame;
  Style style;  // resolved style for text and symbols
  std::uint64_t measureGeneration = 0;
  std::vector<std::pair<Proposal, Size>> measureCache;
  bool rowsStale = false;
  bool sheetRegistered = false;  // sheet modifiers: already in the tree's list of presenters
  std::uint64_t rowsVersion = 0;   // containers: bumped by every rebuild of the container
  std::uint64_t builtVersion = 0;  // rows: the container version they were built for
  Rect rowFrame;                   // rows: the whole row, whatever the content's insets
  Rect backFrame;                  // navigation views: the back button, when shown
  std::string backTitle;
  std::string title;
  bool largeTitle = false;
  Node* toolbar = nullptr;         // navigation views: the toolbar modifier shown in the bar

  // Scroll containers: offset and content size. Lists and grids: rows by key, built lazily.
  Point scrollOffset;
  Size contentSize;
  std::map<std::string, std::shared_ptr<Node>> lazyRows;
  std::map<std::string, double> rowHeights;
  std::map<std::string, double> swipeOffsets;  // list rows: revealed width by row key
  std::vector<std::shared_ptr<Node>> visibleRows;

  // Navigation view: pushed destinations and the links that pushed them.
  struct Pushed {
    std::shared_ptr<Node> screen;
    std::weak_ptr<Node> link;
  };
  std::vector<Pushed> stack;
  Rect barFrame;

  bool isModifier(Mod m) const { return blueprint->kind == Kind::modifier && blueprint->mod == m; }
  Node* content() const { return children.empty() ? nullptr : children[0].get(); }
};

// A sheet on screen.
struct Presentation {
  std::weak_ptr<Node> modifier;  // the sheet modifier that presented it; empty for present()
  std::shared_ptr<Node> content;
  std::function<void()> onDismiss;
  std::function<View()> body;
  bool closing = false;
  bool fromBinding = false;
  bool popover = false;  // a box with an arrow pointing at `anchor`, not a sheet
  Rect anchor;
  Point arrowTip;
  bool arrowUp = true;   // the box lies below its anchor
  std::uint64_t id = 0;
  Rect frame;
  double dragOffset = 0;
};

// A drawn node, in drawing order, for hit testing and finding.
struct DrawnItem {
  std::shared_ptr<Node> node;
  Rect frame;
  Rect clip;
  double opacity = 1;
  int layer = 0;  // 0 the screen, k the k-th sheet
};

class Tree {
 public:
  Tree(View root, HostOptions options);
  ~Tree();

  HostOptions options;
  std::shared_ptr<Node> root;
  std::vector<Presentation> sheets;
  std::uint64_t evaluations = 0;
  std::uint64_t generation = 0;
  std::function<void()> needsDisplay;
  std::vector<DrawnItem> drawn;  // from the last layout
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);

  // ---- Building
  std::shared_ptr<Node> reconcile(Node* parent, std::shared_ptr<Node> old, const View& view,
                                  const std::string& key, const Environment& env);
  void evaluate(Node& node);
  void markDirty(Node& node);
  void scheduleUpdate();
  bool update();
  void rebuildAll();
  void requestLayout();
  bool hasDirtyAncestor(const Node& node) const;
  Environment rootEnvironment() const;
  void detach(Node& node);

  // Rows of lazy containers and eager expansion of ForEach and Group.
  struct RowSource {
    const View* view = nullptr;  // a static child
    std::shared_ptr<const Blueprint> forEach;
    std::size_t index = 0;
    std::string key;
    bool sectionHeader = false;
    int section = -1;
  };
  static void flatten(const std::vector<View>& views, const std::string& prefix,
                      std::vector<RowSource>& out, bool expandSections);
  static void flattenRange(const View* begin, const View* end, const std::string& prefix,
                           std::vector<RowSource>& out, bool expandSections, int section);
  std::shared_ptr<Node> buildRow(Node& container, const RowSource& row);

  // ---- Navigation and presentation
  Node* visibleNavigationView(Node* from) const;
  Node* visibleScreen(Node& navigationView) const;
  void push(Node& link);
  bool pop(Node& navigationView);
  bool syncSheets();
  void dismissSheet(std::size_t index);
  void presentBody(std::function<View()> body, std::function<void()> onDismiss);

  void presentPopover(std::function<View()> body, Rect anchor, std::function<void()> onDismiss);
  bool popoverContains(const Presentation& p, Point point) const;
  void placePopover(Presentation& p, const Style& style);

  // ---- Text editing: the focused field and its caret, a byte offset on a code point boundary.
  std::weak_ptr<Node> focusedField;
  std::size_t caret = 0;
  bool editing = false;  // text input is on (told to textInputChanged), whatever became of the field
  std::function<void(bool)> textInputChanged;
  Node* focused() const;
  void focus(Node* field, std::optional<Point> at);
  void endEditing();
  void dropLostFocus();
  bool insertText(const std::string& text);
  bool editKey(EditingKey key);
  std::string fieldText(const Node& field) const;
  Rect fieldTextFrame(const Node& field) const;
  double fieldShift(const Node& field) const;  // single-line fields scroll to keep the caret in view

  // ---- Layout and drawing
  Size measure(Node& node, Proposal proposal, const Style& style);
  void place(Node& node, Rect frame, const Style& style);
  void layout();
  Size flexFrameSize(Node& node, Proposal p, const Style& style);
  double gridHeight(Node& node, double width, const Style& style);
  void placeGrid(Node& node, Rect frame, const Style& style);
  void placeList(Node& node, Rect frame, const Style& style);
  void placeNavigation(Node& node, Rect frame, const Style& style);
  void pruneRows(Node& node, const std::vector<RowSource>& rows);
  bool isGrouped(const Node& list) const;
  static Rect intersect(Rect a, Rect b);
  Rect viewport;  // the visible part of the scroll container being placed, window points
  std::vector<Rect> windowFrames;  // what each layer (screen, sheets) occupies
  void render(cairo_t* cr, bool record);
  // Draws a popover's shadow, box and arrow, and leaves `cr` saved and clipped to the box.
  void paintPopover(cairo_t* cr, const Presentation& p) const;
  cairo_surface_t* imageSurface(const std::string& name);

  // ---- Input
  bool tap(Point p);
  void scrollAt(Point p, double dx, double dy);
  Node* rowWithSwipeActions(Node* node, Node** list, std::string* rowKey);
  void setSwipe(Node& list, const std::string& rowKey, double offset);
  void closeSwipes();
  int topLayer() const;
  Node* nodeAt(Point p);
  Node* scrollContainerAt(Point p);
  void scrollBy(Node& target, double dx, double dy);
  double swipeRevealWidth(Node& row);
  void dragBegan(Point p);
  void dragMoved(Point p);
  void dragEnded(Point p);
  struct Drag {
    bool active = false;
    Point start, last;
    enum class Mode { undecided, swipe, scroll, sheet } mode = Mode::undecided;
    std::weak_ptr<Node> target;
    std::string rowKey;
    double startOffset = 0;
  } drag;

 private:
  std::map<std::string, cairo_surface_t*> images_;
  bool scheduled_ = false;
  bool needsLayout_ = true;
  std::vector<std::weak_ptr<Node>> dirty_;
  std::vector<std::weak_ptr<Node>> sheetModifiers_;
  std::uint64_t presentationIds_ = 0;
};

// Helpers shared by the sources.
Node* swipeModifierOf(Node* row);
Node* findModifier(Node* node, Mod mod, bool throughContainers);
bool isScrollContainer(const Node& node);
// A button, a link or a view with a tap action.
bool isTappable(const Node& node);
// Inside a disabled modifier, however far up: it takes no taps or focus, and is drawn faded.
bool isDisabled(const Node& node);
Color labelColor(ColorScheme scheme);
Color backgroundColor(ColorScheme scheme);
void drawSymbol(cairo_t* cr, const std::string& name, Rect frame, Color color);
Size textSize(const std::string& text, const Style& style, std::optional<double> width);
void drawText(cairo_t* cr, const std::string& text, const Style& style, Rect frame, Color color);
Font resolvedFont(const Style& style);
// The caret of byte `index` (x, y, height; width 0) in `text` laid out at `width` (none: one line),
// relative to the text's origin; and the byte index nearest a point relative to it.
Rect caretRect(const std::string& text, const Style& style, std::optional<double> width, std::size_t index);
std::size_t textIndexAt(const std::string& text, const Style& style, std::optional<double> width, Point point);
inline constexpr double kFieldInsetX = 8;
inline constexpr double kFieldInsetY = 7;

}  // namespace platform::ui::detail
