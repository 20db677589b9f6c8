// Drives a view tree headlessly in tests: build at a size and colour scheme, find nodes by text,
// image, symbol or identifier, read their frames, tap, swipe, navigate, present and dismiss
// sheets, pump the main run loop and snapshot to PNG. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Host.h"

namespace platform::ui {

namespace detail {
class Node;
}  // namespace detail

// A node found on screen. It stays readable after the tree changes; exists() says whether it is
// still shown.
class Element {
 public:
  explicit Element(std::shared_ptr<detail::Node> node);
  bool exists() const;
  // Frame in window points.
  Rect frame() const;
  std::string text() const;        // a Text's string or a text field's contents, else empty
  std::string placeholder() const; // a text field's placeholder, else empty
  bool isTextField() const;        // a TextField or TextEditor
  std::string imageName() const;   // an asset image's name, else empty
  std::string symbolName() const;  // a drawn symbol's name, else empty
  std::string identifier() const;  // the nearest accessibilityIdentifier at or above it
  // The colour a Text or symbol is drawn in, and its font.
  Color foregroundColor() const;
  Font font() const;
  // The opacity it is drawn with (all enclosing opacities multiplied).
  double effectiveOpacity() const;
  const std::shared_ptr<detail::Node>& node() const { return node_; }

 private:
  std::shared_ptr<detail::Node> node_;
};

class TestHost {
 public:
  explicit TestHost(View root, HostOptions options = {});

  Host& host() { return host_; }
  // Runs due main-queue work and applies rebuilds and layout.
  void pump();

  std::optional<Element> findText(const std::string& text);
  std::optional<Element> findImage(const std::string& assetName);
  std::optional<Element> findSymbol(const std::string& symbolName);
  std::optional<Element> findId(const std::string& identifier);
  // The topmost shown TextField whose placeholder is `placeholder`.
  std::optional<Element> findField(const std::string& placeholder);
  // Every shown TextField and TextEditor, in drawing order.
  std::vector<Element> findAllFields();
  // Every shown element matching, in drawing order (top to bottom, leading to trailing).
  std::vector<Element> findAllText(const std::string& text);
  std::vector<Element> findAllImages(const std::string& assetName);
  // Every shown Text string, in drawing order.
  std::vector<std::string> texts();

  // Taps the centre of the element's frame (what a person would hit there). True when an action ran.
  bool tap(const Element& element);
  // Swipes the list row holding `element` towards the leading edge by `distance` points (a
  // negative distance swipes towards the trailing edge, revealing leading actions).
  void swipeRow(const Element& element, double distance);
  // Reveals the swipe actions of the row holding `element`; returns their buttons.
  std::vector<Element> revealSwipeActions(const Element& element);
  // Scrolls the scroll view or list holding `element` by `dy` points.
  void scroll(const Element& element, double dy);

  // Types `text` into the text field at or inside `element`. A field not yet focused is tapped
  // first and its caret put at the end, so the text is appended; a focused one takes it at its
  // caret. False when there is no field there or it took no focus (disabled, covered).
  bool typeText(const Element& element, const std::string& text);
  // Types at the focused field's caret.
  bool typeText(const std::string& text);
  bool pressKey(EditingKey key);
  // The focused field, if any.
  std::optional<Element> focusedField();
  std::optional<std::size_t> caretOffset() { return host_.caretOffset(); }

  // The popover on top, if the topmost presentation is one.
  std::optional<Host::PresentationInfo> topPopover();
  // Taps a point in window coordinates (outside a popover, say).
  bool tapAt(Point point);

  std::string navigationTitle() { return host_.navigationTitle(); }
  std::size_t navigationDepth() { return host_.navigationDepth(); }
  bool goBack();
  std::size_t sheetCount() { return host_.presentedSheetCount(); }
  bool dismissSheet();

  void setColorScheme(ColorScheme scheme);
  void setSize(Size size);
  bool snapshot(const std::filesystem::path& path, std::optional<Size> pixelSize = {});

 private:
  Host host_;
};

}  // namespace platform::ui
