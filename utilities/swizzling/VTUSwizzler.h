// Replaces the implementation of one method of a runtime class by a block and reads a method's
// current implementation. Every method-table change and read runs synchronously on one serial
// queue "com.veltro.VTUSwizzler". Class methods only; thread-safe.
//
//   VTUSwizzler::swizzleClass(cls, "viewDidAppear:", false,
//       platform::runtime::implementationWithBlock([old](Object& self, bool animated) { ... }));
#pragma once

#include <string>
#include <vector>

#include "platform/runtime/Runtime.h"

class VTUSwizzler {
 public:
  // Replaces the method (an instance method, or a class method when isClassSelector) found on
  // the class or inherited by it; an inherited one gets an override in the class itself. An empty
  // selector, a null class or a missing method fails the platform assertion and changes nothing.
  static void swizzleClass(platform::runtime::Class* cls, const std::string& selector,
                           bool isClassSelector, platform::runtime::IMP block);
  // The implementation the class (or its metaclass) answers with now, inherited ones included;
  // null for an empty selector or null class, and null (asserted) for a missing method.
  static platform::runtime::IMP currentImplementationForClass(platform::runtime::Class* cls,
                                                              const std::string& selector,
                                                              bool isClassSelector);
  static bool selectorExistsInClass(const std::string& selector,
                                    const platform::runtime::Class* cls, bool isClassSelector);
  // The values of the object-typed ivars declared by the object's own class, in declaration
  // order, nil ones skipped; superclasses are not searched.
  static std::vector<platform::Value> ivarObjectsForObject(const platform::Object* object);
};
