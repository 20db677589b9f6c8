// The retained tree of one window: builds it from the root view, rebuilds only the views whose
// state or observed objects changed (batched onto the main run loop), lays it out, draws it with
// cairo, turns input into taps, swipes and scrolling, and keeps the navigation and sheet stacks.
// The headless core of both the SDL window and TestHost. Main thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Geometry.h"
#include "platform/ui/Style.h"
#include "platform/ui/View.h"

typedef struct _cairo cairo_t;

namespace platform::ui {

namespace detail {
class Tree;
}  // namespace detail

// Phone portrait and tablet portrait sizes, in points.
inline constexpr Size kPhoneSize{390, 844};
inline constexpr Size kPadSize{820, 1180};

// Keys that edit the focused text field.
enum class EditingKey { backspace, deleteForward, left, right, home, end, enter, tab };

struct HostOptions {
  Size size = kPhoneSize;
  ColorScheme colorScheme = ColorScheme::light;
  UserInterfaceIdiom idiom = UserInterfaceIdiom::phone;
  EdgeInsets safeArea{};
};

class Host {
 public:
  explicit Host(View root, HostOptions options = {});
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The most recently made host that is still alive (the "key window"), or null. Code outside
  // any view (a share sheet, say) presents through it.
  static Host* keyWindow();

  Size size() const;
  void setSize(Size size);
  ColorScheme colorScheme() const;
  // Rebuilds every view that reads the environment, at once on the next update().
  void setColorScheme(ColorScheme scheme);
  UserInterfaceIdiom idiom() const;

  // Applies pending rebuilds and lays out; the main run loop calls this after every change, so
  // only code that needs the result at once calls it directly. Returns true when anything changed.
  bool update();
  // Body evaluations so far (every view struct, row, sheet and destination counts one).
  std::uint64_t bodyEvaluationCount() const;

  // Draws the current screen (with sheets) at the window's size into `cr`, at scale `scale`.
  void render(cairo_t* cr, double scale = 1) const;
  // Writes a PNG of the current screen; `pixelSize` scales the drawing to that size. Headless.
  bool snapshot(const std::filesystem::path& path, std::optional<Size> pixelSize = {}) const;

  // ---- Input, in window points.
  // A tap: runs the button, link, swipe action or tap gesture under the point. True when one ran.
  bool tap(Point point);
  // A drag: horizontal on a list row reveals its swipe actions (a full swipe runs the first one
  // only when allowed); vertical scrolls; downward from a sheet's top dismisses it.
  void dragBegan(Point point);
  void dragMoved(Point point);
  void dragEnded(Point point);
  // Scrolls the scroll view or list under the point by (dx, dy) points (wheel).
  void scroll(Point point, double dx, double dy);
  // Closes revealed swipe actions.
  void closeSwipeActions();

  // ---- Navigation and presentation
  // Dismisses the topmost sheet as a person would (lowers its binding; onDismiss runs after).
  bool dismissTopSheet();
  std::size_t presentedSheetCount() const;
  // Pops the navigation stack of the topmost layer (the back button): the screen, or the top
  // sheet or popover when one is presented. False at its root, or when that layer has none.
  bool goBack();
  std::size_t navigationDepth() const;
  // The title shown in the topmost visible navigation bar, or empty.
  std::string navigationTitle() const;
  // Presents `content` (a body) as a sheet not tied to any binding: a share sheet, say.
  // `onDismiss` runs after it is gone. Dismissed like any sheet, or by dismissPresented().
  void present(std::function<View()> content, std::function<void()> onDismiss = {});
  void dismissPresented();

  // Presents `content` (a body) as a popover: a bordered, shadowed box whose arrow points at
  // `anchor` (window points), below it when there is room, else above. A tap outside it or
  // dismissTopSheet() (Escape) closes it; `onDismiss` runs after it is gone.
  void presentPopover(std::function<View()> content, Rect anchor, std::function<void()> onDismiss = {});
  // What is presented, bottom to top.
  struct PresentationInfo {
    bool popover = false;
    Rect frame;      // the sheet or the popover's box
    Rect anchor;     // popovers: what the arrow points at
    Point arrowTip;  // popovers: the arrow's tip
  };
  std::vector<PresentationInfo> presentations() const;

  // ---- Text input: a tap on a TextField or TextEditor focuses it; typing goes to its caret.
  bool isEditingText() const;
  // Inserts UTF-8 `text` at the caret (invalid bytes are dropped; a single-line field drops line
  // breaks). False when no field is focused.
  bool insertText(const std::string& text);
  // Backspace and Delete remove one code point, the arrows move by one, Home and End go to the
  // line's ends, Enter ends a single-line field's editing and breaks the line in an editor, Tab
  // moves to the next field. False when no field is focused.
  bool pressKey(EditingKey key);
  void endEditing();
  // The focused field's caret (a byte offset into its text), when one is focused.
  std::optional<std::size_t> caretOffset() const;
  // Told true when a field gains focus and false when editing ends (the window host starts and
  // stops the platform's text input with it).
  void setTextInputHandler(std::function<void(bool)> handler);

  // Called whenever the screen needs drawing again (the window host redraws).
  void setNeedsDisplayHandler(std::function<void()> handler);

  detail::Tree& tree() const { return *tree_; }

 private:
  std::unique_ptr<detail::Tree> tree_;
};

}  // namespace platform::ui
