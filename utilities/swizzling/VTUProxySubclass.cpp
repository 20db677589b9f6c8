#include "utilities/swizzling/VTUProxySubclass.h"

#include "platform/base/Format.h"
#include "platform/runtime/Crypto.h"
#include "utilities/swizzling/VTUSwizzlingConstants.h"

namespace rt = platform::runtime;
using platform::ObjectPtr;
using platform::Value;

rt::Class* VTUInstallProxySubclass(const ObjectPtr& delegate, const VTUProxySubclassSetup& setup) {
  rt::Class* realClass = rt::objectGetClass(delegate);
  if (!delegate || !realClass) return nullptr;
  const std::string& realName = realClass->name();
  const std::string name = platform::format(
      vtu::kSubclassNameFormat, std::string(vtu::kProxyPrefix) + realName,
      platform::crypto::uuidString());
  if (rt::classNamed(name)) {
    if (setup.nameTaken) setup.nameTaken(realName, name);
    return nullptr;
  }
  rt::Class* subclass = rt::allocateClassPair(realClass, name);
  if (!subclass) {
    if (setup.allocationFailed) setup.allocationFailed(realName);
    return nullptr;
  }
  Value::Dictionary implementations =
      setup.addMethods ? setup.addMethods(subclass, realClass) : Value::Dictionary();
  rt::setAssociatedObject(delegate.get(), setup.realIMPBySelectorKey,
                          Value(std::move(implementations)), rt::AssociationPolicy::RetainNonatomic);
  // A class lives for the whole process: the value does not own it.
  rt::setAssociatedObject(delegate.get(), setup.realClassKey, Value(ObjectPtr(ObjectPtr(), realClass)),
                          rt::AssociationPolicy::RetainNonatomic);
  if (rt::classGetInstanceSize(realClass) != rt::classGetInstanceSize(subclass)) {
    if (setup.sizeMismatch) setup.sizeMismatch(name);
    return nullptr;
  }
  rt::registerClassPair(subclass);
  if (rt::objectSetClass(delegate.get(), subclass) && setup.proxied) setup.proxied();
  return subclass;
}
