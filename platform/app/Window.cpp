#include "platform/app/Window.h"

namespace platform::app {

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
  if (root_) root_->window_.reset();
  root_ = std::move(controller);
  if (root_) root_->window_ = std::static_pointer_cast<Window>(weak_from_this().lock());
}

}  // namespace platform::app
