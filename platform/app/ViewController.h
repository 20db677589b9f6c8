// View controllers: runtime objects (class "UIViewController") that show a view body and present
// other controllers modally. Presentation goes through message send ("presentViewController:
// animated:completion:", "dismissViewControllerAnimated:completion:") and sends the appearance
// messages "viewWillAppear:", "viewDidAppear:", "viewWillDisappear:", "viewDidDisappear:"
// (each void(Object& self, bool animated)), so replaced methods take effect. A presented
// controller is shown as a sheet of the window's ui::Host; on the tablet idiom a popover style
// keeps its source view and rectangle. Main thread only.
#pragma once

#include <functional>
#include <memory>

#include "platform/runtime/Runtime.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/View.h"

namespace platform::app {

class Window;

enum class ModalPresentationStyle { automatic, pageSheet, formSheet, popover };

// Where a popover points from. The source view is held weakly.
struct PopoverPresentationController {
  std::weak_ptr<Object> sourceView;
  ui::Rect sourceRect{};
};

class ViewController : public runtime::RootObject {
 public:
  ViewController();
  ~ViewController() override;
  std::string className() const override;

  // What the controller shows; the default is an empty view.
  virtual ui::View body();

  // Presents `controller` as a sheet over this controller's window. Nothing happens (a warning is
  // printed, the completion does not run) when this controller is in no window or already
  // presents another. The completion runs on the main queue after the presentation.
  void presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                             std::function<void()> completion);
  // Dismisses what this controller presents (or, when it presents nothing, itself from its
  // presenter). The completion runs once the sheet is gone.
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion);

  std::shared_ptr<ViewController> presentedViewController() const;
  std::shared_ptr<ViewController> presentingViewController() const;
  // The window of this controller (the root's window for presented ones), or null.
  std::shared_ptr<Window> window() const;

  ModalPresentationStyle modalPresentationStyle() const { return style_; }
  void setModalPresentationStyle(ModalPresentationStyle style) { style_ = style; }
  // Set up by the caller before presenting with the popover style.
  PopoverPresentationController& popoverPresentationController() { return popover_; }
  // True while its sheet is on screen.
  bool isBeingShown() const { return shown_; }

 protected:
  // Closes this controller's own sheet (a Cancel button, say).
  void dismissSelf(std::function<void()> completion = {});

 private:
  friend class Window;

 public:
  // The implementations behind the runtime methods; call the message-sending forms above.
  void presentImplForRuntime(std::shared_ptr<ViewController> controller, bool animated,
                             std::function<void()> completion);
  void dismissImplForRuntime(bool animated, std::function<void()> completion);

 private:
  std::weak_ptr<Window> window_;
  std::weak_ptr<ViewController> presenting_;
  std::shared_ptr<ViewController> presented_;
  ModalPresentationStyle style_ = ModalPresentationStyle::automatic;
  PopoverPresentationController popover_;
  bool shown_ = false;
  std::function<void()> pendingDismissCompletion_;
};

// A controller that shows a given view (the window's root content).
class HostingController : public ViewController {
 public:
  explicit HostingController(std::function<ui::View()> content) : content_(std::move(content)) {}
  ui::View body() override { return content_ ? content_() : ui::EmptyView(); }

 private:
  std::function<ui::View()> content_;
};

// Registers "UIViewController" and its methods with the runtime (done on first use; safe to
// call again).
void registerViewControllerClasses();

}  // namespace platform::app
