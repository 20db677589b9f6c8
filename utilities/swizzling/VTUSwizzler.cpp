#include "utilities/swizzling/VTUSwizzler.h"

#include <optional>

#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/dispatch/DispatchQueue.h"
#include "utilities/swizzling/VTUSwizzlingConstants.h"

namespace rt = platform::runtime;

namespace {

platform::DispatchQueuePtr swizzlerQueue() {
  static auto* queue =
      new platform::DispatchQueuePtr(platform::DispatchQueue::create(vtu::kSwizzlerQueueLabel));
  return *queue;
}

void assertFailed(const char* function, int line, const std::string& description) {
  platform::AssertionHandler::handleFailure(function, __FILE__, line, description);
}

// The class whose table holds the method: the metaclass for a class method.
rt::Class* tableClass(rt::Class* cls, bool isClassSelector) {
  return isClassSelector ? cls->metaclass() : cls;
}

std::optional<rt::Method> findMethod(const rt::Class* cls, const std::string& selector,
                                     bool isClassSelector) {
  return isClassSelector ? rt::classGetClassMethod(cls, selector)
                         : rt::classGetInstanceMethod(cls, selector);
}

}  // namespace

void VTUSwizzler::swizzleClass(rt::Class* cls, const std::string& selector, bool isClassSelector,
                               rt::IMP block) {
  if (selector.empty()) {
    assertFailed(__func__, __LINE__, vtu::kSwizzleNullSelectorAssertion);
    return;
  }
  if (!cls) {
    assertFailed(__func__, __LINE__, vtu::kSwizzleNilClassAssertion);
    return;
  }
  // The assertion may throw; it runs outside the queue so a throwing handler never escapes a
  // queued block.
  bool missing = false;
  swizzlerQueue()->sync([&] {
    std::optional<rt::Method> method = findMethod(cls, selector, isClassSelector);
    if (!method) {
      missing = true;
      return;
    }
    rt::classReplaceMethod(tableClass(cls, isClassSelector), selector, block, method->types);
  });
  if (missing) {
    assertFailed(__func__, __LINE__,
                 platform::format(vtu::kSwizzleMissingMethodAssertion, cls->name(), selector));
  }
}

rt::IMP VTUSwizzler::currentImplementationForClass(rt::Class* cls, const std::string& selector,
                                                   bool isClassSelector) {
  if (selector.empty() || !cls) return nullptr;
  std::optional<rt::Method> method;
  swizzlerQueue()->sync([&] { method = findMethod(cls, selector, isClassSelector); });
  if (!method) {
    assertFailed(__func__, __LINE__,
                 platform::format(vtu::kMissingMethodAssertion, cls->name(), selector));
    return nullptr;
  }
  if (!method->implementation) {
    assertFailed(__func__, __LINE__,
                 platform::format(vtu::kMissingImplementationAssertion, cls->name(), selector));
  }
  return method->implementation;
}

bool VTUSwizzler::selectorExistsInClass(const std::string& selector, const rt::Class* cls,
                                        bool isClassSelector) {
  if (selector.empty() || !cls) return false;
  return findMethod(cls, selector, isClassSelector).has_value();
}

std::vector<platform::Value> VTUSwizzler::ivarObjectsForObject(const platform::Object* object) {
  return rt::ivarObjectsForObject(object);
}
