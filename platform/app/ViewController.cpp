#include "platform/app/ViewController.h"

#include <cstdio>

#include "platform/app/AppConstants.h"
#include "platform/app/Window.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/Host.h"

namespace platform::app {
namespace {

void addAppearanceMethods(runtime::Class& cls) {
  for (const char* selector :
       {"viewWillAppear:", "viewDidAppear:", "viewWillDisappear:", "viewDidDisappear:"}) {
    cls.addInstanceMethod(
        selector, [](Object&, bool) {}, "v@:B");
  }
  cls.addInstanceMethod(
      "presentViewController:animated:completion:",
      [](Object& self, ObjectPtr controller, bool animated, std::function<void()> completion) {
        static_cast<ViewController&>(self).presentImplForRuntime(
            std::dynamic_pointer_cast<ViewController>(controller), animated, std::move(completion));
      },
      "v@:@B@?");
  cls.addInstanceMethod(
      "dismissViewControllerAnimated:completion:",
      [](Object& self, bool animated, std::function<void()> completion) {
        static_cast<ViewController&>(self).dismissImplForRuntime(animated, std::move(completion));
      },
      "v@:B@?");
}

void sendAppearance(const std::shared_ptr<ViewController>& controller, const char* selector,
                    bool animated) {
  try {
    runtime::msgSend<void>(controller, selector, bool{animated});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s failed: %s\n", selector, e.what());
  }
}

// The source rectangle in window points. Windows and controllers' views fill the window, so the
// rectangle is already in its coordinates; a popover whose source view is gone points at the
// window's centre rather than at a corner.
ui::Rect popoverAnchor(ViewController& controller, ui::Host& host) {
  const auto& popover = controller.popoverPresentationController();
  if (popover.sourceView.expired()) {
    ui::Size size = host.size();
    return {size.width / 2, size.height / 2, 0, 0};
  }
  return popover.sourceRect;
}

}  // namespace

void registerViewControllerClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    runtime::registerClass(kViewControllerClassName, runtime::kRootClassName,
                           sizeof(ViewController), addAppearanceMethods);
    runtime::registerClass("UIHostingController", kViewControllerClassName,
                           sizeof(HostingController));
    runtime::registerClass(kActivityViewControllerClassName, kViewControllerClassName,
                           sizeof(ViewController));
    runtime::registerClass(kMailComposeControllerClassName, kViewControllerClassName,
                           sizeof(ViewController));
  });
}

ViewController::ViewController() { registerViewControllerClasses(); }
ViewController::~ViewController() = default;

std::string ViewController::className() const { return kViewControllerClassName; }

ui::View ViewController::body() { return ui::EmptyView(); }

void ViewController::presentViewController(std::shared_ptr<ViewController> controller,
                                           bool animated, std::function<void()> completion) {
  runtime::msgSend<void>(static_cast<Object*>(this), "presentViewController:animated:completion:",
                         ObjectPtr(std::move(controller)), bool{animated}, std::move(completion));
}

void ViewController::dismissViewControllerAnimated(bool animated,
                                                   std::function<void()> completion) {
  runtime::msgSend<void>(static_cast<Object*>(this),
                         "dismissViewControllerAnimated:completion:", bool{animated},
                         std::move(completion));
}

std::shared_ptr<ViewController> ViewController::presentedViewController() const {
  return presented_;
}

std::shared_ptr<ViewController> ViewController::presentingViewController() const {
  return presenting_.lock();
}

std::shared_ptr<Window> ViewController::window() const {
  if (auto w = window_.lock()) return w;
  if (auto presenter = presenting_.lock()) return presenter->window();
  return nullptr;
}

void ViewController::presentImplForRuntime(std::shared_ptr<ViewController> controller,
                                           bool animated, std::function<void()> completion) {
  if (!controller) return;
  auto window = this->window();
  ui::Host* host = window ? window->host() : nullptr;
  if (!host) {
    std::fprintf(stderr, "Attempt to present %s on %s whose view is not in the window hierarchy.\n",
                 controller->description().c_str(), description().c_str());
    return;
  }
  if (presented_) {
    std::fprintf(stderr, "Attempt to present %s on %s which is already presenting %s.\n",
                 controller->description().c_str(), description().c_str(),
                 presented_->description().c_str());
    return;
  }
  auto self = std::static_pointer_cast<ViewController>(weak_from_this().lock());
  if (!self) {
    std::fprintf(stderr, "Attempt to present %s from %s, which nothing owns.\n",
                 controller->description().c_str(), description().c_str());
    return;
  }
  presented_ = controller;
  controller->presenting_ = self;
  controller->shown_ = true;
  sendAppearance(controller, "viewWillAppear:", animated);
  std::weak_ptr<ViewController> weakController = controller;
  std::weak_ptr<ViewController> weakSelf = self;
  auto content = [weakController]() -> ui::View {
    auto c = weakController.lock();
    return c ? c->body() : ui::EmptyView();
  };
  auto onDismiss = [weakController, weakSelf, animated] {
    auto c = weakController.lock();
    if (!c) return;
    sendAppearance(c, "viewWillDisappear:", animated);
    c->shown_ = false;
    if (auto presenter = weakSelf.lock(); presenter && presenter->presented_ == c) {
      presenter->presented_.reset();
    }
    c->presenting_.reset();
    sendAppearance(c, "viewDidDisappear:", animated);
    if (auto done = std::move(c->pendingDismissCompletion_)) {
      c->pendingDismissCompletion_ = nullptr;
      done();
    }
  };
  // Tablets show the popover style as a popover at its source; phones show every style as a sheet.
  if (controller->style_ == ModalPresentationStyle::popover &&
      host->idiom() == ui::UserInterfaceIdiom::pad) {
    host->presentPopover(std::move(content), popoverAnchor(*controller, *host),
                         std::move(onDismiss));
  } else {
    host->present(std::move(content), std::move(onDismiss));
  }
  sendAppearance(controller, "viewDidAppear:", animated);
  if (completion) DispatchQueue::main()->async(std::move(completion));
}

void ViewController::dismissImplForRuntime(bool, std::function<void()> completion) {
  if (!presented_) {
    if (auto presenter = presenting_.lock()) {
      presenter->dismissImplForRuntime(false, std::move(completion));
    }
    return;
  }
  auto window = this->window();
  ui::Host* host = window ? window->host() : nullptr;
  presented_->pendingDismissCompletion_ = std::move(completion);
  if (host) host->dismissPresented();
}

void ViewController::dismissSelf(std::function<void()> completion) {
  dismissViewControllerAnimated(true, std::move(completion));
}

}  // namespace platform::app
