// A window of the application: a root view controller and the ui::Host that shows it (owned by
// the window host or a TestHost). Main thread only.
#pragma once

#include <memory>

#include "platform/app/ViewController.h"
#include "platform/base/Value.h"
#include "platform/ui/Host.h"

namespace platform::app {

class Window : public Object {
 public:
  // `host` may be null (a window not on screen); it must outlive the window's use.
  explicit Window(ui::Host* host = nullptr) : host_(host) {}
  std::string className() const override { return "UIWindow"; }

  static std::shared_ptr<Window> make(ui::Host* host = nullptr) {
    return std::make_shared<Window>(host);
  }

  ui::Host* host() const { return host_; }
  void setHost(ui::Host* host) { host_ = host; }
  std::shared_ptr<ViewController> rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller);

 private:
  ui::Host* host_;
  std::shared_ptr<ViewController> root_;
};

}  // namespace platform::app
