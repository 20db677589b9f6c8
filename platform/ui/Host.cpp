#include "platform/ui/Host.h"

#include <cairo.h>

#include <algorithm>
#include <vector>

#include "platform/base/Saturating.h"
#include "platform/ui/Tree.h"

namespace platform::ui {
namespace {

std::vector<Host*>& liveHosts() {
  static auto* hosts = new std::vector<Host*>();
  return *hosts;
}

// The first navigation view drawn in `layer`, or null.
detail::Node* navigationViewIn(detail::Tree& tree, int layer) {
  for (auto& item : tree.drawn) {
    if (item.layer == layer && item.node->blueprint->kind == detail::Kind::navigationView)
      return item.node.get();
  }
  return nullptr;
}

detail::Node* topNavigationView(detail::Tree& tree) {
  for (int l = tree.topLayer(); l >= 0; --l) {
    if (detail::Node* nav = navigationViewIn(tree, l)) return nav;
  }
  return nullptr;
}

}  // namespace

Host::Host(View root, HostOptions options)
    : tree_(std::make_unique<detail::Tree>(std::move(root), options)) {
  liveHosts().push_back(this);
  tree_->update();
}

Host::~Host() {
  auto& hosts = liveHosts();
  hosts.erase(std::remove(hosts.begin(), hosts.end(), this), hosts.end());
}

Host* Host::keyWindow() {
  auto& hosts = liveHosts();
  return hosts.empty() ? nullptr : hosts.back();
}

Size Host::size() const { return tree_->options.size; }

void Host::setSize(Size size) {
  tree_->options.size = size;
  tree_->requestLayout();
}

ColorScheme Host::colorScheme() const { return tree_->options.colorScheme; }

void Host::setColorScheme(ColorScheme scheme) {
  if (tree_->options.colorScheme == scheme) return;
  tree_->options.colorScheme = scheme;
  tree_->rebuildAll();
}

UserInterfaceIdiom Host::idiom() const { return tree_->options.idiom; }

bool Host::update() { return tree_->update(); }

std::uint64_t Host::bodyEvaluationCount() const { return tree_->evaluations; }

void Host::render(cairo_t* cr, double scale) const {
  cairo_save(cr);
  cairo_scale(cr, scale, scale);
  tree_->render(cr, false);
  cairo_restore(cr);
}

bool Host::snapshot(const std::filesystem::path& path, std::optional<Size> pixelSize) const {
  Size size = tree_->options.size;
  Size pixels = pixelSize.value_or(size);
  int w = saturatingCast<int>(pixels.width), h = saturatingCast<int>(pixels.height);
  if (w <= 0 || h <= 0 || !(size.width > 0 && size.height > 0)) return false;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, pixels.width / size.width, pixels.height / size.height);
  tree_->render(cr, false);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

bool Host::tap(Point point) {
  tree_->update();
  return tree_->tap(point);
}

void Host::dragBegan(Point point) {
  tree_->update();
  tree_->dragBegan(point);
}
void Host::dragMoved(Point point) { tree_->dragMoved(point); }
void Host::dragEnded(Point point) { tree_->dragEnded(point); }

void Host::scroll(Point point, double dx, double dy) {
  tree_->update();
  tree_->scrollAt(point, dx, dy);
}

void Host::closeSwipeActions() { tree_->closeSwipes(); }

bool Host::dismissTopSheet() {
  if (tree_->sheets.empty()) return false;
  tree_->dismissSheet(tree_->sheets.size() - 1);
  return true;
}

std::size_t Host::presentedSheetCount() const { return tree_->sheets.size(); }

bool Host::goBack() {
  // Only within what is on top: a sheet or popover is modal, and popping a screen beneath it
  // would take the presentation (and whatever was typed into it) away unasked.
  detail::Node* nav = navigationViewIn(*tree_, tree_->topLayer());
  return nav && tree_->pop(*nav);
}

std::size_t Host::navigationDepth() const {
  detail::Node* nav = topNavigationView(*tree_);
  return nav ? nav->stack.size() : 0;
}

std::string Host::navigationTitle() const {
  detail::Node* nav = topNavigationView(*tree_);
  return nav ? nav->title : std::string();
}

void Host::present(std::function<View()> content, std::function<void()> onDismiss) {
  tree_->presentBody(std::move(content), std::move(onDismiss));
}

void Host::dismissPresented() {
  for (std::size_t i = tree_->sheets.size(); i-- > 0;) {
    if (!tree_->sheets[i].fromBinding) {
      tree_->dismissSheet(i);
      return;
    }
  }
}

void Host::presentPopover(std::function<View()> content, Rect anchor,
                          std::function<void()> onDismiss) {
  tree_->presentPopover(std::move(content), anchor, std::move(onDismiss));
}

std::vector<Host::PresentationInfo> Host::presentations() const {
  std::vector<PresentationInfo> out;
  for (const auto& p : tree_->sheets) out.push_back({p.popover, p.frame, p.anchor, p.arrowTip});
  return out;
}

bool Host::isEditingText() const { return tree_->focused() != nullptr; }

bool Host::insertText(const std::string& text) { return tree_->insertText(text); }

bool Host::pressKey(EditingKey key) { return tree_->editKey(key); }

void Host::endEditing() { tree_->endEditing(); }

std::optional<std::size_t> Host::caretOffset() const {
  if (!tree_->focused()) return std::nullopt;
  return tree_->caret;
}

void Host::setTextInputHandler(std::function<void(bool)> handler) {
  tree_->textInputChanged = std::move(handler);
}

void Host::setNeedsDisplayHandler(std::function<void()> handler) {
  tree_->needsDisplay = std::move(handler);
}

}  // namespace platform::ui
