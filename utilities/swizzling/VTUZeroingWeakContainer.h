// Holds an interceptor without keeping it alive: object() is null once it is gone.
#pragma once

#include <memory>
#include <string>

#include "platform/base/Value.h"

class VTUZeroingWeakContainer : public platform::Object {
 public:
  explicit VTUZeroingWeakContainer(const platform::ObjectPtr& object) : object_(object) {}
  platform::ObjectPtr object() const { return object_.lock(); }
  std::string className() const override { return "VTUZeroingWeakContainer"; }

 private:
  std::weak_ptr<platform::Object> object_;
};
