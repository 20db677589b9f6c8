// The object runtime: classes registered by name, method tables of type-erased implementations,
// message send through an object's class, method replacement, dynamic subclasses and class change
// of one object, associated objects, protocols, responds-to and conforms-to, ivar listing.
// Thread-safe: one reader-writer lock guards every class and protocol table; implementations are
// always called outside it, so a method may send messages and change method tables freely.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

namespace platform::runtime {

class Class;
class Protocol;

// The name of the root class every runtime class descends from (the default Object::className()).
inline constexpr const char* kRootClassName = "NSObject";

namespace detail {
template <class T>
struct IsObjectPointer : std::false_type {};
template <class T>
struct IsObjectPointer<std::shared_ptr<T>>
    : std::bool_constant<std::is_base_of_v<Object, std::remove_const_t<T>>> {};
}  // namespace detail

// How an argument or result travels through a typed call: by value, with string literals as
// std::string and every pointer to an Object (and nullptr) as ObjectPtr, so that a caller may
// pass a std::shared_ptr<Derived> to a method declared with ObjectPtr and the other way round.
// Non-const references are not allowed; out-parameters are pointers.
template <class T>
struct CallType {
  using D = std::decay_t<T>;
  using type = std::conditional_t<
      std::is_same_v<D, const char*> || std::is_same_v<D, char*>, std::string,
      std::conditional_t<detail::IsObjectPointer<D>::value || std::is_same_v<D, std::nullptr_t>,
                         ObjectPtr, D>>;
};
template <class T>
using CallType_t = typename CallType<T>::type;

namespace detail {
[[noreturn]] void throwObjectClassMismatch(const Object& object, const std::type_info& wanted);

// What travels, from what the caller or the method has.
template <class T, class U>
CallType_t<T> toCall(U&& value) {
  using D = std::decay_t<U>;
  if constexpr (IsObjectPointer<D>::value) {
    return std::const_pointer_cast<Object>(
        std::static_pointer_cast<const Object>(std::forward<U>(value)));
  } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
    return ObjectPtr();
  } else {
    return CallType_t<T>(std::forward<U>(value));
  }
}

// What the method declared (or the caller asked for), from what travels. A pointer to an
// object of another class than declared raises Exception(kInvalidArgumentException).
template <class T>
std::decay_t<T> fromCall(CallType_t<T>&& value) {
  using D = std::decay_t<T>;
  if constexpr (IsObjectPointer<D>::value && !std::is_same_v<D, ObjectPtr>) {
    using Element = std::remove_const_t<typename D::element_type>;
    if (!value) return nullptr;
    auto cast = std::dynamic_pointer_cast<Element>(value);
    if (!cast) throwObjectClassMismatch(*value, typeid(Element));
    return cast;
  } else {
    return D(std::move(value));
  }
}
}  // namespace detail

// One method implementation: a callable of a fixed signature R(Object& self, Args...). Immutable
// and shared; the same implementation may sit in several classes. Being an Object, an
// implementation can be kept in a Value (pointer-boxed, as the swizzling code records them).
class Implementation : public Object {
 public:
  template <class R, class... Args>
  static std::shared_ptr<const Implementation> make(std::function<R(Object&, Args...)> fn) {
    static_assert(((!std::is_lvalue_reference_v<Args> ||
                    std::is_const_v<std::remove_reference_t<Args>>)&&...),
                  "runtime methods take out-parameters as pointers, not non-const references");
    using CR = std::conditional_t<std::is_void_v<R>, void, CallType_t<R>>;
    using Fn = std::function<CR(Object&, CallType_t<Args>...)>;
    auto holder =
        std::make_shared<Fn>([fn = std::move(fn)](Object& self, CallType_t<Args>... args) -> CR {
          if constexpr (std::is_void_v<R>) {
            fn(self, detail::fromCall<Args>(std::move(args))...);
          } else {
            return detail::toCall<R>(fn(self, detail::fromCall<Args>(std::move(args))...));
          }
        });
    return std::shared_ptr<const Implementation>(
        new Implementation(typeid(Fn), std::move(holder), signatureText<CR, Args...>()));
  }

  // Calls with the given arguments. A result or argument type that differs from the
  // implementation's (after CallType) raises Exception(kInvalidArgumentException).
  template <class R, class... Args>
  R call(Object& self, Args&&... args) const {
    using CR = std::conditional_t<std::is_void_v<R>, void, CallType_t<R>>;
    using Fn = std::function<CR(Object&, CallType_t<Args>...)>;
    if (signature_ != std::type_index(typeid(Fn))) {
      signatureMismatch(signatureText<CR, Args...>());
    }
    const Fn& fn = *static_cast<const Fn*>(fn_.get());
    if constexpr (std::is_void_v<R>) {
      fn(self, detail::toCall<Args>(std::forward<Args>(args))...);
    } else {
      return detail::fromCall<R>(fn(self, detail::toCall<Args>(std::forward<Args>(args))...));
    }
  }

  // "R(Args...)" in demangled C++ types, for messages and method listings.
  const std::string& signature() const { return text_; }
  std::string className() const override { return "IMP"; }
  std::string description() const override;

 private:
  Implementation(std::type_index sig, std::shared_ptr<void> fn, std::string text)
      : signature_(sig), fn_(std::move(fn)), text_(std::move(text)) {}
  template <class CR, class... Args>
  static std::string signatureText() {
    return describeSignature(typeid(CR), {&typeid(CallType_t<Args>)...});
  }
  static std::string describeSignature(const std::type_info& result,
                                       std::initializer_list<const std::type_info*> args);
  [[noreturn]] void signatureMismatch(const std::string& asked) const;

  std::type_index signature_;
  std::shared_ptr<void> fn_;
  std::string text_;
};
using IMP = std::shared_ptr<const Implementation>;

namespace detail {
template <class F>
struct CallableTraits : CallableTraits<decltype(&F::operator())> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) const> {
  using Signature = R (*)(A...);
};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...)> {
  using Signature = R (*)(A...);
};
template <class R, class... A>
struct CallableTraits<R (*)(A...)> {
  using Signature = R (*)(A...);
};

template <class F, class R, class Self, class... A>
IMP makeFromBlock(F&& block, R (*)(Self&, A...)) {
  using SelfType = std::remove_const_t<Self>;
  static_assert(std::is_base_of_v<Object, SelfType>, "a block's first parameter is its self");
  if constexpr (std::is_same_v<SelfType, Object>) {
    return Implementation::make(std::function<R(Object&, A...)>(std::forward<F>(block)));
  } else {
    // A block declared for a subclass receives self as that class, checked.
    return Implementation::make(std::function<R(Object&, A...)>(
        [b = std::forward<F>(block)](Object& self, A... args) mutable -> R {
          auto* typed = dynamic_cast<Self*>(&self);
          if (!typed) throwObjectClassMismatch(self, typeid(SelfType));
          return b(*typed, std::forward<A>(args)...);
        }));
  }
}
}  // namespace detail

// An implementation from a block: any callable whose first parameter is self, as Object& or as
// a reference to the class the method belongs to (checked at each call):
//   runtime::implementationWithBlock([](Object& self, std::string url) -> bool { ... });
//   runtime::implementationWithBlock([](Application& self) { ... });
template <class F>
IMP implementationWithBlock(F&& block) {
  using Signature = typename detail::CallableTraits<std::decay_t<F>>::Signature;
  return detail::makeFromBlock(std::forward<F>(block), Signature{});
}

// A method of one class: selector, implementation and type encoding ("v@:" style text kept as
// given; the runtime does not interpret it beyond storing and returning it).
struct Method {
  std::string selector;
  IMP implementation;
  std::string types;
};

// An instance variable: name, type encoding (object-typed ones begin with "@"), and how to read it.
// Ivars of C++ classes read through their getter; ivars added to a dynamic class before it is
// registered are stored per object (objectGetIvar / objectSetIvar).
struct Ivar {
  std::string name;
  std::string types;
  std::size_t size = 0;
  std::function<Value(const Object&)> getter;  // empty for per-object storage
};

// Base of every runtime object: its class pointer (isa) and its associated objects. The class is
// found on first use from className(), so a C++ subclass only overrides className() and
// registers a runtime class of that name; objectSetClass changes it for this one object.
class RootObject : public Object {
 public:
  RootObject() = default;
  ~RootObject() override;
  RootObject(const RootObject&) = delete;
  RootObject& operator=(const RootObject&) = delete;

  std::string className() const override { return kRootClassName; }
  // "<ClassName: 0x...>" with the runtime class's name.
  std::string description() const override;

 private:
  friend Class* objectGetClass(const Object* object);
  friend Class* objectSetClass(Object* object, Class* cls);
  friend struct AssociationAccess;
  mutable std::atomic<Class*> isa_{nullptr};
  mutable std::mutex associationsMutex_;
  std::map<const void*, std::pair<Value, std::weak_ptr<Object>>> associations_;
  std::map<std::string, Value, std::less<>> ivarValues_;
};

// A runtime class. Classes are never destroyed; a Class* stays valid for the life of the process.
// A class is itself an object: its class is its metaclass, which holds its class methods, so
// msgSend on a Class* calls class methods.
class Class : public RootObject {
 public:
  using Factory = std::function<std::shared_ptr<Object>()>;

  const std::string& name() const { return name_; }
  std::string className() const override { return name_; }
  std::string description() const override { return name_; }
  Class* superclass() const;
  Class* metaclass() const { return meta_; }
  bool isMetaclass() const { return isMeta_; }
  bool isRegistered() const;
  std::size_t instanceSize() const;

  // Builders, used by registrars and by code that builds classes at run time. Each returns false
  // when the class itself already has a method of that selector (inherited ones do not count).
  template <class F>
  bool addInstanceMethod(std::string selector, F&& block, std::string types = {}) {
    return addMethodImpl(this, std::move(selector), implementationWithBlock(std::forward<F>(block)),
                         std::move(types));
  }
  template <class F>
  bool addClassMethod(std::string selector, F&& block, std::string types = {}) {
    return addMethodImpl(meta_, std::move(selector),
                         implementationWithBlock(std::forward<F>(block)), std::move(types));
  }
  // Declares conformance by protocol name (the protocol may be registered later).
  void addProtocol(std::string protocolName);
  // Ivars may be added only before the class is registered (false afterwards or on a
  // duplicate name); a per-object ivar grows instanceSize by its size.
  bool addIvar(Ivar ivar);
  // How instances are made (createInstance); a subclass without its own uses its superclass's.
  void setFactory(Factory factory);

 private:
  friend struct ClassAccess;
  Class(std::string name, bool isMeta);
  static bool addMethodImpl(Class* cls, std::string selector, IMP imp, std::string types);

  std::string name_;
  bool isMeta_;
  Class* meta_ = nullptr;
  // Everything else is guarded by the runtime's table lock.
  Class* super_ = nullptr;
  bool registered_ = false;
  std::size_t instanceSize_ = 0;
  std::vector<Method> methods_;  // declaration order
  std::vector<Ivar> ivars_;
  std::vector<std::string> protocols_;
  Factory factory_;
};

// A protocol: named operations, each required or optional, instance or class, and the protocols
// it extends. Registered by name, never destroyed.
struct MethodDescription {
  std::string selector;
  std::string types;
  bool required = true;
  bool instance = true;
};
class Protocol {
 public:
  const std::string& name() const { return name_; }
  const std::vector<MethodDescription>& methods() const { return methods_; }
  const std::vector<std::string>& inheritedProtocols() const { return inherited_; }
  // The description of the selector (searching the protocols this one extends as well), or null.
  const MethodDescription* methodDescription(std::string_view selector, bool required,
                                             bool instance) const;
  // True when this protocol is, or extends (directly or not), the named one.
  bool conformsTo(std::string_view protocolName) const;

 private:
  friend Protocol* registerProtocol(std::string, std::vector<MethodDescription>,
                                    std::vector<std::string>);
  Protocol() = default;
  std::string name_;
  std::vector<MethodDescription> methods_;
  std::vector<std::string> inherited_;
};

// ---- Classes --------------------------------------------------------------------------------

// The registered class of that name, or null.
Class* classNamed(std::string_view name);
// Registers a class at once (superclass by name; empty means a root class). Returns the existing
// class when the name is taken by a registered class of the same superclass; null when the
// superclass is not registered or the name is taken otherwise. `configure` runs before the
// class becomes visible to lookups.
Class* registerClass(std::string_view name, std::string_view superclassName,
                     std::size_t instanceSize, const std::function<void(Class&)>& configure = {});
// A new class and metaclass under the superclass, not yet visible to lookups; null when the name
// is taken (registered or allocated) or the superclass is null. Its instance size starts at the
// superclass's.
Class* allocateClassPair(Class* superclass, std::string_view name);
// Makes an allocated pair visible to classNamed. Registering twice does nothing.
void registerClassPair(Class* cls);
// Every registered class, sorted by name.
std::vector<Class*> allClasses();
std::size_t classGetInstanceSize(const Class* cls);
bool classIsSubclassOf(const Class* cls, const Class* ancestor);  // true for cls == ancestor

// A new instance of the class through its (or its nearest superclass's) factory, with its class
// set to `cls`. Null when no factory is found.
std::shared_ptr<Object> createInstance(Class* cls);

// Class-load registration: a namespace-scope registrar queues the class; the queue is resolved
// (superclasses first) on the first use of any lookup, so registrars in different files may run
// in any order. Registrars only register.
class ClassRegistrar {
 public:
  ClassRegistrar(const char* name, const char* superclassName, std::size_t instanceSize,
                 void (*configure)(Class&));
};
class ProtocolRegistrar {
 public:
  ProtocolRegistrar(const char* name, std::vector<MethodDescription> methods,
                    std::vector<std::string> inheritedProtocols = {});
};

// ---- Objects --------------------------------------------------------------------------------

// The object's class: the runtime class of a RootObject (its isa); for any other Object the class
// registered under its className(), else the root class. Null for null.
Class* objectGetClass(const Object* object);
inline Class* objectGetClass(const ObjectPtr& object) { return objectGetClass(object.get()); }
std::string objectGetClassName(const Object* object);  // "nil" for null
// Changes the class of one RootObject; returns the previous class, or null (and changes nothing)
// when the object is not a RootObject or cls is null.
Class* objectSetClass(Object* object, Class* cls);
// Per-object ivar storage of ivars added to a dynamic class.
Value objectGetIvar(const Object* object, std::string_view name);
bool objectSetIvar(Object* object, std::string_view name, Value value);
// Values of the object-typed ivars ("@...") declared by the object's own class, in declaration
// order, nil values skipped; superclasses are not searched.
std::vector<Value> ivarObjectsForObject(const Object* object);
std::vector<Ivar> classCopyIvarList(const Class* cls);

// Associated objects, keyed by the identity of `key`; kept inside the object and released with
// it. Assign keeps a weak reference (reads give nil once the value is gone); the others retain.
// A nil value removes the association. Only RootObjects carry associations.
enum class AssociationPolicy { Assign, RetainNonatomic, CopyNonatomic, Retain, Copy };
void setAssociatedObject(Object* object, const void* key, Value value,
                         AssociationPolicy policy = AssociationPolicy::RetainNonatomic);
Value getAssociatedObject(const Object* object, const void* key);
void removeAssociatedObjects(Object* object);

// ---- Methods --------------------------------------------------------------------------------

// Lookup walks the superclass chain. For class methods use the metaclass (cls->metaclass()) or
// the class-method helpers.
std::optional<Method> classGetInstanceMethod(const Class* cls, std::string_view selector);
std::optional<Method> classGetClassMethod(const Class* cls, std::string_view selector);
IMP classGetMethodImplementation(const Class* cls, std::string_view selector);  // null if none
// Methods of the class itself (not inherited), in the order they were added.
std::vector<Method> classCopyMethodList(const Class* cls);
// Adds to the class itself; false (nothing changed) when the class itself has the selector.
bool classAddMethod(Class* cls, std::string_view selector, IMP imp, std::string_view types);
// Replaces the class's own method, or adds it when only inherited or absent (keeping `types`).
// Returns the class's own previous implementation, or null when it had none.
IMP classReplaceMethod(Class* cls, std::string_view selector, IMP imp, std::string_view types);
bool classRespondsToSelector(const Class* cls, std::string_view selector);

// ---- Protocols ------------------------------------------------------------------------------

Protocol* registerProtocol(std::string name, std::vector<MethodDescription> methods,
                           std::vector<std::string> inheritedProtocols = {});
Protocol* protocolNamed(std::string_view name);
// The class or a superclass declares the protocol, or one that extends it.
bool classConformsToProtocol(const Class* cls, std::string_view protocolName);

// ---- Message send ---------------------------------------------------------------------------

// The implementation the object's class (walking superclasses) has for the selector, or null.
IMP lookUpImplementation(const Object* object, std::string_view selector);
bool respondsToSelector(const Object* object, std::string_view selector);
inline bool respondsToSelector(const ObjectPtr& o, std::string_view s) {
  return respondsToSelector(o.get(), s);
}
bool conformsToProtocol(const Object* object, std::string_view protocolName);
inline bool conformsToProtocol(const ObjectPtr& o, std::string_view p) {
  return conformsToProtocol(o.get(), p);
}
// Raises Exception(kInvalidArgumentException,
// "-[<Class> <selector>]: unrecognized selector sent to instance 0x...") ("+[...]: ... class"
// for a class).
[[noreturn]] void doesNotRecognizeSelector(const Object* object, std::string_view selector);

// A typed call through the object's class: msgSend<bool>(delegate, "application:openURL:", app,
// url). A message to null does nothing and gives R{}; an unknown selector raises as
// doesNotRecognizeSelector; a signature that differs from the implementation's raises
// Exception(kInvalidArgumentException).
template <class R = void, class... Args>
R msgSend(Object* object, std::string_view selector, Args&&... args) {
  if (!object) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else {
      return R{};
    }
  }
  IMP imp = lookUpImplementation(object, selector);
  if (!imp) doesNotRecognizeSelector(object, selector);
  return imp->call<R>(*object, std::forward<Args>(args)...);
}
template <class R = void, class T, class... Args>
R msgSend(const std::shared_ptr<T>& object, std::string_view selector, Args&&... args) {
  // Keep the receiver alive for the call even if the method drops the last other reference.
  std::shared_ptr<T> keep = object;
  return msgSend<R>(const_cast<Object*>(static_cast<const Object*>(keep.get())), selector,
                    std::forward<Args>(args)...);
}

}  // namespace platform::runtime
