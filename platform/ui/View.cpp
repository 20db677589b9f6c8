#include "platform/ui/View.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/ui/Tree.h"

namespace platform::ui {

using detail::Kind;
using detail::Mod;
using detail::Blueprint;

namespace {

std::shared_ptr<Blueprint> make(Kind kind) {
  auto s = std::make_shared<Blueprint>();
  s->kind = kind;
  return s;
}

View modified(const View& content, Mod mod, const std::function<void(Blueprint&)>& fill = {}) {
  auto s = make(Kind::modifier);
  s->mod = mod;
  s->children.push_back(content);
  if (fill) fill(*s);
  return View(std::move(s));
}

const std::set<std::string>& knownSymbols() {
  static const auto* symbols = new std::set<std::string>{
      "heart.fill", "heart",   "gear",      "xmark.octagon", "square.and.arrow.up",
      "chevron.left", "envelope", "questionmark.circle", "star", "star.fill",
      "play.fill",  "stop.fill", "xmark"};
  return *symbols;
}

}  // namespace

View::View() : blueprint_(make(Kind::empty)) {}

View::View(Color color) {
  auto s = make(Kind::color);
  s->color = color;
  blueprint_ = std::move(s);
}

View View::makeComponent(std::type_index type, std::function<View()> body) {
  auto s = make(Kind::component);
  s->type = type;
  s->body = std::move(body);
  return View(std::move(s));
}

View TextField(std::string placeholder, Binding<std::string> text) {
  auto s = make(Kind::textField);
  s->text = std::move(placeholder);
  s->textBinding = std::move(text);
  return View(std::move(s));
}

View TextEditor(Binding<std::string> text) {
  auto s = make(Kind::textField);
  s->textBinding = std::move(text);
  s->flag = true;
  return View(std::move(s));
}

View View::padding(double length) const { return padding(Edges::all, length); }

View View::padding(Edges edges, double length) const {
  EdgeInsets in{edges.has(Edges::top) ? length : 0, edges.has(Edges::leading) ? length : 0,
                edges.has(Edges::bottom) ? length : 0, edges.has(Edges::trailing) ? length : 0};
  return padding(in);
}

View View::padding(EdgeInsets insets) const {
  return modified(*this, Mod::padding, [&](Blueprint& s) { s.insets = insets; });
}

View View::frame(std::optional<double> width, std::optional<double> height, Alignment alignment) const {
  return modified(*this, Mod::frameFixed, [&](Blueprint& s) {
    s.fixedWidth = width;
    s.fixedHeight = height;
    s.alignment = alignment;
  });
}

View View::frame(const FrameOptions& options) const {
  return modified(*this, Mod::frameFlex, [&](Blueprint& s) {
    s.frame = options;
    s.alignment = options.alignment;
  });
}

View View::edgesIgnoringSafeArea(Edges edges) const {
  return modified(*this, Mod::ignoresSafeArea, [&](Blueprint& s) { s.edges = edges; });
}

View View::background(View background, Alignment alignment) const {
  return modified(*this, Mod::background, [&](Blueprint& s) {
    s.children.push_back(std::move(background));
    s.alignment = alignment;
  });
}

View View::overlay(View overlay, Alignment alignment) const {
  return modified(*this, Mod::overlay, [&](Blueprint& s) {
    s.children.push_back(std::move(overlay));
    s.alignment = alignment;
  });
}

View View::clipShape(const Shape& shape) const {
  return modified(*this, Mod::clipShape, [&](Blueprint& s) {
    s.shape = shape.blueprint()->shape;
    s.cornerRadius = shape.blueprint()->cornerRadius;
  });
}

View View::shadow(Color color, double radius, double x, double y) const {
  return modified(*this, Mod::shadow, [&](Blueprint& s) {
    s.color = color;
    s.number = radius;
    s.offset = {x, y};
  });
}

View View::opacity(double opacity) const {
  return modified(*this, Mod::opacity, [&](Blueprint& s) { s.number = std::clamp(opacity, 0.0, 1.0); });
}

View View::font(Font font) const {
  return modified(*this, Mod::font, [&](Blueprint& s) { s.font = font; });
}

View View::fontWeight(FontWeight weight) const {
  return modified(*this, Mod::fontWeight, [&](Blueprint& s) { s.weight = weight; });
}

View View::bold() const { return fontWeight(FontWeight::bold); }

View View::foregroundColor(Color color) const {
  return modified(*this, Mod::foregroundColor, [&](Blueprint& s) { s.color = color; });
}

View View::tint(Color color) const {
  return modified(*this, Mod::tint, [&](Blueprint& s) { s.color = color; });
}

View View::multilineTextAlignment(TextAlignment alignment) const {
  return modified(*this, Mod::textAlignment, [&](Blueprint& s) { s.textAlignment = alignment; });
}

View View::id(std::string id) const {
  return modified(*this, Mod::id, [&](Blueprint& s) { s.text = std::move(id); });
}

View View::accessibilityIdentifier(std::string identifier) const {
  return modified(*this, Mod::accessibilityId, [&](Blueprint& s) { s.text = std::move(identifier); });
}

View View::onTapGesture(std::function<void()> action) const {
  return modified(*this, Mod::onTap, [&](Blueprint& s) { s.action = std::move(action); });
}

View View::disabled(bool disabled) const {
  return modified(*this, Mod::disabled, [&](Blueprint& s) { s.flag = disabled; });
}

View View::listStyle(ListStyle style) const {
  return modified(*this, Mod::listStyle, [&](Blueprint& s) { s.listStyle = style; });
}

View View::listRowSeparator(Visibility visibility, Edges edges) const {
  return modified(*this, Mod::rowSeparator, [&](Blueprint& s) {
    s.visibility = visibility;
    s.edges = edges;
  });
}

View View::listRowBackground(View background) const {
  return modified(*this, Mod::rowBackground,
                  [&](Blueprint& s) { s.children.push_back(std::move(background)); });
}

View View::swipeActions(HorizontalEdge edge, bool allowsFullSwipe, std::vector<View> actions) const {
  return modified(*this, Mod::swipeActions, [&](Blueprint& s) {
    s.hAlign = edge == HorizontalEdge::leading ? HorizontalAlignment::leading
                                               : HorizontalAlignment::trailing;
    s.flag = allowsFullSwipe;
    for (auto& a : actions) s.children.push_back(std::move(a));
  });
}

View View::navigationTitle(std::string title) const {
  return modified(*this, Mod::navTitle, [&](Blueprint& s) { s.text = std::move(title); });
}

View View::navigationBarTitleDisplayMode(NavigationBarTitleDisplayMode mode) const {
  return modified(*this, Mod::navTitleMode, [&](Blueprint& s) { s.titleMode = mode; });
}

View View::toolbar(std::vector<ToolbarItem> items) const {
  return modified(*this, Mod::toolbar, [&](Blueprint& s) {
    for (auto& item : items) {
      s.children.push_back(std::move(item.content));
      s.placements.push_back(item.placement);
    }
  });
}

View View::sheet(Binding<bool> isPresented, std::function<void()> onDismiss,
                 std::function<View()> content) const {
  return modified(*this, Mod::sheet, [&](Blueprint& s) {
    s.binding = std::move(isPresented);
    s.onDismiss = std::move(onDismiss);
    s.body = std::move(content);
  });
}

View Shape::fill(Color color) const {
  return modified(*this, Mod::fill, [&](Blueprint& s) { s.color = color; });
}

View Shape::stroke(Color color, double lineWidth) const {
  return modified(*this, Mod::stroke, [&](Blueprint& s) {
    s.color = color;
    s.number = lineWidth;
  });
}

ImageView ImageView::resizable(EdgeInsets capInsets, ImageResizingMode mode) const {
  auto s = std::make_shared<Blueprint>(*blueprint());
  s->flag = true;
  s->insets = capInsets;
  s->resizing = mode;
  return ImageView(std::move(s));
}

GridItem GridItem::fixed(double size, std::optional<double> spacing) {
  return {Kind::fixed, size, size, spacing, Alignment::center()};
}
GridItem GridItem::flexible(double minimum, double maximum, std::optional<double> spacing) {
  return {Kind::flexible, minimum, maximum, spacing, Alignment::center()};
}
GridItem GridItem::adaptive(double minimum, double maximum, std::optional<double> spacing) {
  return {Kind::adaptive, minimum, maximum, spacing, Alignment::center()};
}

View EmptyView() { return View(); }

View Group(std::vector<View> children) {
  auto s = make(Kind::group);
  s->children = std::move(children);
  return View(std::move(s));
}

View VStack(std::vector<View> children) { return VStack(VStackOptions{}, std::move(children)); }

View VStack(VStackOptions options, std::vector<View> children) {
  auto s = make(Kind::vstack);
  s->hAlign = options.alignment;
  s->spacing = options.spacing;
  s->children = std::move(children);
  return View(std::move(s));
}

View HStack(std::vector<View> children) { return HStack(HStackOptions{}, std::move(children)); }

View HStack(HStackOptions options, std::vector<View> children) {
  auto s = make(Kind::hstack);
  s->vAlign = options.alignment;
  s->spacing = options.spacing;
  s->children = std::move(children);
  return View(std::move(s));
}

View ZStack(std::vector<View> children) { return ZStack(Alignment::center(), std::move(children)); }

View ZStack(Alignment alignment, std::vector<View> children) {
  auto s = make(Kind::zstack);
  s->alignment = alignment;
  s->children = std::move(children);
  return View(std::move(s));
}

View Spacer(std::optional<double> minLength) {
  auto s = make(Kind::spacer);
  s->number = minLength.value_or(kDefaultSpacing);
  return View(std::move(s));
}

View Text(std::string text) {
  auto s = make(Kind::text);
  s->text = std::move(text);
  return View(std::move(s));
}

ImageView Image(std::string name) {
  auto s = make(Kind::image);
  s->text = std::move(name);
  return ImageView(std::move(s));
}

ImageView SystemImage(std::string symbolName) {
  auto s = make(Kind::symbol);
  s->text = std::move(symbolName);
  return ImageView(std::move(s));
}

bool isKnownSymbol(const std::string& symbolName) { return knownSymbols().count(symbolName) > 0; }

namespace {
Shape makeShape(detail::ShapeKind kind, double radius) {
  auto s = make(Kind::shape);
  s->shape = kind;
  s->cornerRadius = radius;
  return Shape(std::move(s));
}
}  // namespace

Shape Rectangle() { return makeShape(detail::ShapeKind::rectangle, 0); }
Shape Circle() { return makeShape(detail::ShapeKind::circle, 0); }
Shape RoundedRectangle(double cornerRadius) {
  return makeShape(detail::ShapeKind::roundedRectangle, std::max(0.0, cornerRadius));
}
Shape Capsule() { return makeShape(detail::ShapeKind::capsule, 0); }

View Button(std::string title, std::function<void()> action) {
  return Button(std::move(action), Text(std::move(title)));
}

View Button(std::function<void()> action, View label) {
  auto s = make(Kind::button);
  s->action = std::move(action);
  s->children.push_back(std::move(label));
  return View(std::move(s));
}

View ScrollView(View content) { return ScrollView(Axis::vertical, true, std::move(content)); }

View ScrollView(Axis axis, bool showsIndicators, View content) {
  auto s = make(Kind::scroll);
  s->axis = axis;
  s->flag = showsIndicators;
  s->children.push_back(std::move(content));
  return View(std::move(s));
}

View LazyVGrid(std::vector<GridItem> columns, LazyVGridOptions options, std::vector<View> content) {
  auto s = make(Kind::grid);
  if (columns.empty()) columns.push_back(GridItem::flexible());
  s->columns = std::move(columns);
  s->hAlign = options.alignment;
  s->spacing = options.spacing;
  s->children = std::move(content);
  return View(std::move(s));
}

View ForEach(std::size_t count, std::function<View(std::size_t)> row) {
  auto s = make(Kind::forEach);
  s->count = count;
  s->row = std::move(row);
  return View(std::move(s));
}

View ForEach(std::vector<std::string> ids, std::function<View(std::size_t)> row) {
  auto s = make(Kind::forEach);
  s->count = ids.size();
  s->ids = std::move(ids);
  s->row = std::move(row);
  return View(std::move(s));
}

View List(std::vector<View> content) {
  auto s = make(Kind::list);
  s->children = std::move(content);
  s->listStyle = ListStyle::plain;
  return View(std::move(s));
}

View Form(std::vector<View> content) {
  auto s = make(Kind::list);
  s->children = std::move(content);
  s->listStyle = ListStyle::insetGrouped;
  s->flag = true;  // a form keeps its look whatever listStyle says
  return View(std::move(s));
}

View Section(std::vector<View> rows) {
  auto s = make(Kind::section);
  s->children = std::move(rows);
  return View(std::move(s));
}

View Section(View header, std::vector<View> rows) {
  auto s = make(Kind::section);
  s->children = std::move(rows);
  s->children.insert(s->children.begin(), std::move(header));
  s->flag = true;  // has a header
  return View(std::move(s));
}

View NavigationView(View root) {
  auto s = make(Kind::navigationView);
  s->children.push_back(std::move(root));
  return View(std::move(s));
}

View NavigationLink(std::function<View()> destination, View label) {
  auto s = make(Kind::navigationLink);
  s->body = std::move(destination);
  s->children.push_back(std::move(label));
  return View(std::move(s));
}

View NavigationLink(std::string title, std::function<View()> destination) {
  return NavigationLink(std::move(destination), Text(std::move(title)));
}

View ViewControllerRepresentable(
    std::function<std::shared_ptr<void>()> makeCoordinator,
    std::function<std::shared_ptr<HostedController>(const RepresentableContext&)> makeController,
    std::function<void(HostedController&, const RepresentableContext&)> updateController) {
  auto s = make(Kind::hosted);
  s->makeCoordinator = std::move(makeCoordinator);
  s->makeController = std::move(makeController);
  s->updateController = std::move(updateController);
  return View(std::move(s));
}

}  // namespace platform::ui
