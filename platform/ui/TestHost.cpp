#include "platform/ui/TestHost.h"

#include <algorithm>

#include "platform/dispatch/RunLoop.h"
#include "platform/ui/Tree.h"

namespace platform::ui {

using detail::Kind;
using detail::Mod;
using detail::Node;

namespace {

const detail::DrawnItem* drawnItem(const Node& node) {
  if (!node.tree || !node.attached) return nullptr;
  for (auto& item : node.tree->drawn) {
    if (item.node.get() == &node) return &item;
  }
  return nullptr;
}

// What a Text or a text field shows (a field's contents), or nothing for other nodes.
std::optional<std::string> shownText(const Node& n) {
  if (n.blueprint->kind == Kind::text) return n.blueprint->text;
  if (n.blueprint->kind == Kind::textField) return n.blueprint->textBinding.get();
  return std::nullopt;
}

Node* fieldAtOrInside(Node* node) {
  if (!node) return nullptr;
  if (node->blueprint->kind == Kind::textField) return node;
  for (auto& c : node->children) {
    if (Node* f = fieldAtOrInside(c.get())) return f;
  }
  return nullptr;
}

bool shown(const detail::DrawnItem& item) {
  Rect r = detail::Tree::intersect(item.clip, item.frame);
  return r.width > 0 && r.height > 0;
}

}  // namespace

Element::Element(std::shared_ptr<Node> node) : node_(std::move(node)) {}

bool Element::exists() const {
  const auto* item = drawnItem(*node_);
  return item && shown(*item);
}

Rect Element::frame() const { return node_->frame; }

std::string Element::text() const {
  if (node_->blueprint->kind == Kind::textField) return node_->blueprint->textBinding.get();
  return node_->blueprint->kind == Kind::text ? node_->blueprint->text : "";
}
std::string Element::placeholder() const {
  return node_->blueprint->kind == Kind::textField ? node_->blueprint->text : "";
}
bool Element::isTextField() const { return node_->blueprint->kind == Kind::textField; }
std::string Element::imageName() const {
  return node_->blueprint->kind == Kind::image ? node_->blueprint->text : "";
}
std::string Element::symbolName() const {
  return node_->blueprint->kind == Kind::symbol ? node_->blueprint->text : "";
}

std::string Element::identifier() const {
  for (Node* n = node_.get(); n; n = n->parent) {
    if (n->isModifier(Mod::accessibilityId)) return n->blueprint->text;
  }
  return {};
}

Color Element::foregroundColor() const {
  const detail::Style& s = node_->style;
  if (s.foreground) return *s.foreground;
  if (s.insideButton) return s.tint.value_or(Color::accentColor());
  ColorScheme scheme = node_->tree ? node_->tree->options.colorScheme : ColorScheme::light;
  return detail::labelColor(scheme);
}

Font Element::font() const { return detail::resolvedFont(node_->style); }

double Element::effectiveOpacity() const {
  const auto* item = drawnItem(*node_);
  return item ? item->opacity : 0;
}

TestHost::TestHost(View root, HostOptions options) : host_(std::move(root), options) { pump(); }

void TestHost::pump() {
  int quiet = 0;
  for (int i = 0; i < 100 && quiet < 2; ++i) {
    RunLoop::main().drain();
    quiet = host_.update() ? 0 : quiet + 1;
  }
}

namespace {

template <class Pred>
std::vector<Element> collect(detail::Tree& tree, Pred pred) {
  std::vector<Element> out;
  for (auto& item : tree.drawn) {
    if (shown(item) && pred(*item.node)) out.emplace_back(item.node);
  }
  return out;
}

template <class Pred>
std::optional<Element> findTop(detail::Tree& tree, Pred pred) {
  for (int layer = tree.topLayer(); layer >= 0; --layer) {
    for (auto& item : tree.drawn) {
      if (item.layer == layer && shown(item) && pred(*item.node)) return Element(item.node);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Element> TestHost::findText(const std::string& text) {
  pump();
  return findTop(host_.tree(), [&](const Node& n) { return shownText(n) == text; });
}

std::optional<Element> TestHost::findImage(const std::string& assetName) {
  pump();
  return findTop(host_.tree(), [&](const Node& n) {
    return n.blueprint->kind == Kind::image && n.blueprint->text == assetName;
  });
}

std::optional<Element> TestHost::findSymbol(const std::string& symbolName) {
  pump();
  return findTop(host_.tree(), [&](const Node& n) {
    return n.blueprint->kind == Kind::symbol && n.blueprint->text == symbolName;
  });
}

std::optional<Element> TestHost::findId(const std::string& identifier) {
  pump();
  return findTop(host_.tree(), [&](const Node& n) {
    return n.isModifier(Mod::accessibilityId) && n.blueprint->text == identifier;
  });
}

std::vector<Element> TestHost::findAllText(const std::string& text) {
  pump();
  return collect(host_.tree(), [&](const Node& n) { return shownText(n) == text; });
}

std::vector<Element> TestHost::findAllImages(const std::string& assetName) {
  pump();
  return collect(host_.tree(), [&](const Node& n) {
    return n.blueprint->kind == Kind::image && n.blueprint->text == assetName;
  });
}

std::vector<std::string> TestHost::texts() {
  pump();
  std::vector<std::string> out;
  for (auto& e : collect(host_.tree(), [](const Node& n) { return shownText(n).has_value(); })) {
    out.push_back(e.text());
  }
  return out;
}

std::optional<Element> TestHost::findField(const std::string& placeholder) {
  pump();
  return findTop(host_.tree(), [&](const Node& n) {
    return n.blueprint->kind == Kind::textField && n.blueprint->text == placeholder;
  });
}

std::vector<Element> TestHost::findAllFields() {
  pump();
  return collect(host_.tree(), [](const Node& n) { return n.blueprint->kind == Kind::textField; });
}

bool TestHost::typeText(const Element& element, const std::string& text) {
  pump();
  Node* field = fieldAtOrInside(element.node().get());
  if (!field) return false;
  if (host_.tree().focused() != field) {
    tap(Element(field->shared_from_this()));
    if (host_.tree().focused() != field) return false;
    host_.tree().caret = field->blueprint->textBinding.get().size();
  }
  return typeText(text);
}

bool TestHost::typeText(const std::string& text) {
  bool typed = host_.insertText(text);
  pump();
  return typed;
}

bool TestHost::pressKey(EditingKey key) {
  bool handled = host_.pressKey(key);
  pump();
  return handled;
}

std::optional<Element> TestHost::focusedField() {
  pump();
  Node* f = host_.tree().focused();
  if (!f) return std::nullopt;
  return Element(f->shared_from_this());
}

std::optional<Host::PresentationInfo> TestHost::topPopover() {
  pump();
  auto all = host_.presentations();
  if (all.empty() || !all.back().popover) return std::nullopt;
  return all.back();
}

bool TestHost::tapAt(Point point) {
  pump();
  bool ran = host_.tap(point);
  pump();
  return ran;
}

bool TestHost::tap(const Element& element) {
  pump();
  const auto* item = drawnItem(*element.node());
  if (!item) return false;
  Rect r = detail::Tree::intersect(item->clip, item->frame);
  bool ran = host_.tap(r.center());
  pump();
  return ran;
}

void TestHost::swipeRow(const Element& element, double distance) {
  pump();
  const auto* item = drawnItem(*element.node());
  if (!item) return;
  Rect r = detail::Tree::intersect(item->clip, item->frame);
  Point start = r.center();
  host_.dragBegan(start);
  // In steps, as a hand would move.
  for (int i = 1; i <= 10; ++i) host_.dragMoved({start.x - distance * i / 10, start.y});
  host_.dragEnded({start.x - distance, start.y});
  pump();
}

std::vector<Element> TestHost::revealSwipeActions(const Element& element) {
  pump();
  detail::Tree& tree = host_.tree();
  Node* list = nullptr;
  std::string key;
  Node* row = tree.rowWithSwipeActions(element.node().get(), &list, &key);
  if (!row) return {};
  tree.setSwipe(*list, key, tree.swipeRevealWidth(*row));
  pump();
  std::vector<Element> out;
  if (Node* swipe = detail::swipeModifierOf(row)) {
    for (std::size_t k = 1; k < swipe->children.size(); ++k) out.emplace_back(swipe->children[k]);
  }
  return out;
}

void TestHost::scroll(const Element& element, double dy) {
  pump();
  const auto* item = drawnItem(*element.node());
  if (!item) return;
  host_.scroll(detail::Tree::intersect(item->clip, item->frame).center(), 0, dy);
  pump();
}

bool TestHost::goBack() {
  pump();
  bool popped = host_.goBack();
  pump();
  return popped;
}

bool TestHost::dismissSheet() {
  pump();
  bool dismissed = host_.dismissTopSheet();
  pump();
  return dismissed;
}

void TestHost::setColorScheme(ColorScheme scheme) {
  host_.setColorScheme(scheme);
  pump();
}

void TestHost::setSize(Size size) {
  host_.setSize(size);
  pump();
}

bool TestHost::snapshot(const std::filesystem::path& path, std::optional<Size> pixelSize) {
  pump();
  return host_.snapshot(path, pixelSize);
}

}  // namespace platform::ui
