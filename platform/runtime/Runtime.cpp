#include "platform/runtime/Runtime.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <shared_mutex>

namespace platform::runtime {

// Private access for the runtime's own tables; declared a friend by the classes it opens.
struct ClassAccess;
struct AssociationAccess;

namespace {

struct PendingClass {
  const char* name;
  const char* superclassName;
  std::size_t instanceSize;
  void (*configure)(Class&);
};
struct PendingProtocol {
  std::string name;
  std::vector<MethodDescription> methods;
  std::vector<std::string> inherited;
};

// What registrars queue before main. Kept apart from the tables so that a registrar never
// builds the tables (and never runs another file's configure function during static
// initialisation).
struct Pending {
  std::mutex mutex;
  std::vector<PendingClass> classes;
  std::vector<PendingProtocol> protocols;
  // Classes whose superclass is not registered yet; retried when a class is registered.
  std::vector<PendingClass> orphans;
  std::atomic<bool> any{false};
  std::mutex flushMutex;
};

Pending& pending() {
  static auto* p = new Pending;
  return *p;
}

struct Tables {
  std::shared_mutex mutex;
  std::map<std::string, Class*, std::less<>> classes;  // registered
  std::set<std::string, std::less<>> reservedNames;    // allocated, not yet registered
  std::vector<std::shared_ptr<Class>> owned;           // every class ever made
  std::map<std::string, std::unique_ptr<Protocol>, std::less<>> protocols;
  Class* root = nullptr;
  IMP rootDescription;
};

Tables& rawTables();
void flushPending();
void retryOrphans();

Tables& tables() {
  if (pending().any.load(std::memory_order_acquire)) flushPending();
  return rawTables();
}

std::string demangle(const std::type_info& type) {
  int status = 0;
  char* text = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string out = status == 0 && text ? text : type.name();
  std::free(text);
  return out;
}

std::string addressText(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", p);
  return buffer;
}

}  // namespace

struct ClassAccess {
  // A class and its metaclass, not yet visible to lookups. Caller holds the table lock.
  static Class* makePair(Tables& t, std::string_view name, Class* superclass) {
    auto cls = std::shared_ptr<Class>(new Class(std::string(name), false));
    auto meta = std::shared_ptr<Class>(new Class(std::string(name), true));
    cls->meta_ = meta.get();
    meta->meta_ = meta.get();
    cls->super_ = superclass;
    if (superclass) {
      meta->super_ = superclass->meta_;
      cls->instanceSize_ = superclass->instanceSize_;
    } else {
      // A root metaclass inherits from its root class, so class objects answer the root's
      // instance methods.
      meta->super_ = cls.get();
    }
    Class* rootMeta = t.root ? t.root->meta_ : meta.get();
    objectSetClass(cls.get(), meta.get());
    objectSetClass(meta.get(), rootMeta);
    t.owned.push_back(cls);
    t.owned.push_back(meta);
    return cls.get();
  }

  // Fills the root class while the tables are being built (no lock exists yet).
  static void initRoot(Tables& t, Class* root) {
    root->factory_ = [] { return std::make_shared<RootObject>(); };
    root->instanceSize_ = sizeof(RootObject);
    root->methods_.push_back(Method{"description", t.rootDescription, "@@:"});
    publish(t, root);
  }

  static const Method* ownMethod(const Class* cls, std::string_view selector) {
    for (const Method& m : cls->methods_) {
      if (m.selector == selector) return &m;
    }
    return nullptr;
  }
  static const Method* findMethod(const Class* cls, std::string_view selector) {
    for (; cls; cls = cls->super_) {
      if (const Method* m = ownMethod(cls, selector)) return m;
    }
    return nullptr;
  }

  static bool addMethod(Class* cls, std::string_view selector, IMP imp, std::string_view types) {
    if (!cls || !imp || selector.empty()) return false;
    std::unique_lock lock(rawTables().mutex);
    if (ownMethod(cls, selector)) return false;
    cls->methods_.push_back(Method{std::string(selector), std::move(imp), std::string(types)});
    return true;
  }

  static IMP replaceMethod(Class* cls, std::string_view selector, IMP imp, std::string_view types) {
    if (!cls || !imp || selector.empty()) return nullptr;
    std::unique_lock lock(rawTables().mutex);
    for (Method& m : cls->methods_) {
      if (m.selector == selector) {
        std::swap(m.implementation, imp);
        return imp;
      }
    }
    cls->methods_.push_back(Method{std::string(selector), std::move(imp), std::string(types)});
    return nullptr;
  }

  static Class* registerNow(std::string_view name, std::string_view superclassName,
                            std::size_t instanceSize,
                            const std::function<void(Class&)>& configure) {
    Tables& t = rawTables();
    Class* cls = nullptr;
    {
      std::unique_lock lock(t.mutex);
      if (auto it = t.classes.find(name); it != t.classes.end()) {
        Class* existing = it->second;
        bool sameSuper =
            existing->super_ ? existing->super_->name_ == superclassName : superclassName.empty();
        return sameSuper ? existing : nullptr;
      }
      if (t.reservedNames.count(name)) return nullptr;
      Class* superclass = nullptr;
      if (!superclassName.empty()) {
        auto it = t.classes.find(superclassName);
        if (it == t.classes.end()) return nullptr;
        superclass = it->second;
      }
      cls = makePair(t, name, superclass);
      cls->instanceSize_ = instanceSize;
      t.reservedNames.insert(std::string(name));
    }
    // Outside the lock: configure adds methods, which takes it.
    if (configure) configure(*cls);
    std::unique_lock lock(t.mutex);
    publish(t, cls);
    return cls;
  }

  static void publish(Tables& t, Class* cls) {
    cls->registered_ = true;
    cls->meta_->registered_ = true;
    t.reservedNames.erase(cls->name_);
    t.classes.emplace(cls->name_, cls);
  }

  static Class* allocatePair(Class* superclass, std::string_view name) {
    if (!superclass || name.empty()) return nullptr;
    Tables& t = tables();
    std::unique_lock lock(t.mutex);
    if (t.classes.count(name) || t.reservedNames.count(name)) return nullptr;
    Class* cls = makePair(t, name, superclass);
    t.reservedNames.insert(std::string(name));
    return cls;
  }

  static void registerPair(Class* cls) {
    if (!cls || cls->isMeta_) return;
    Tables& t = tables();
    std::unique_lock lock(t.mutex);
    if (cls->registered_) return;
    publish(t, cls);
  }

  static std::shared_ptr<Object> create(Class* cls) {
    if (!cls) return nullptr;
    Class::Factory factory;
    {
      std::shared_lock lock(rawTables().mutex);
      for (const Class* c = cls; c && !factory; c = c->super_) factory = c->factory_;
    }
    if (!factory) return nullptr;
    std::shared_ptr<Object> object = factory();
    if (object) objectSetClass(object.get(), cls);
    return object;
  }

  static std::vector<std::string> protocolNames(const Class* cls) {
    std::vector<std::string> names;
    std::shared_lock lock(rawTables().mutex);
    for (; cls; cls = cls->super_) {
      names.insert(names.end(), cls->protocols_.begin(), cls->protocols_.end());
    }
    return names;
  }

  static std::vector<Ivar> ivars(const Class* cls) {
    std::shared_lock lock(rawTables().mutex);
    return cls->ivars_;
  }

  static bool declaresStoredIvar(const Class* cls, std::string_view name) {
    std::shared_lock lock(rawTables().mutex);
    for (; cls; cls = cls->super_) {
      for (const Ivar& ivar : cls->ivars_) {
        if (ivar.name == name) return !ivar.getter;
      }
    }
    return false;
  }

  static std::vector<Method> methods(const Class* cls) {
    std::shared_lock lock(rawTables().mutex);
    return cls->methods_;
  }

  static Class* superOf(const Class* cls) {
    std::shared_lock lock(rawTables().mutex);
    return cls->super_;
  }
};

struct AssociationAccess {
  static void set(RootObject& o, const void* key, Value value, AssociationPolicy policy) {
    // The previous value is released after the lock, in case its destruction comes back here.
    std::pair<Value, std::weak_ptr<Object>> old;
    {
      std::lock_guard lock(o.associationsMutex_);
      auto it = o.associations_.find(key);
      if (it != o.associations_.end()) {
        old = std::move(it->second);
        o.associations_.erase(it);
      }
      if (value.isNil()) return;
      if (policy == AssociationPolicy::Assign && value.isObject()) {
        o.associations_[key] = {Value(), std::weak_ptr<Object>(value.object())};
      } else {
        o.associations_[key] = {std::move(value), {}};
      }
    }
  }
  static Value get(const RootObject& o, const void* key) {
    std::lock_guard lock(o.associationsMutex_);
    auto it = o.associations_.find(key);
    if (it == o.associations_.end()) return Value();
    if (!it->second.first.isNil()) return it->second.first;
    if (auto strong = it->second.second.lock()) return Value(strong);
    return Value();
  }
  static void removeAll(RootObject& o) {
    std::map<const void*, std::pair<Value, std::weak_ptr<Object>>> old;
    std::lock_guard lock(o.associationsMutex_);
    old.swap(o.associations_);
  }
  static Value getIvar(const RootObject& o, std::string_view name) {
    std::lock_guard lock(o.associationsMutex_);
    auto it = o.ivarValues_.find(name);
    return it == o.ivarValues_.end() ? Value() : it->second;
  }
  static void setIvar(RootObject& o, std::string_view name, Value value) {
    Value old;
    std::lock_guard lock(o.associationsMutex_);
    auto& slot = o.ivarValues_[std::string(name)];
    old = std::move(slot);
    slot = std::move(value);
  }
};

namespace {

Tables& rawTables() {
  static Tables* t = [] {
    auto* tables = new Tables;
    Class* root = ClassAccess::makePair(*tables, kRootClassName, nullptr);
    tables->root = root;
    // The root metaclass was made before the root existed, so its class is itself, as the
    // root metaclass's class is in any case.
    tables->rootDescription =
        implementationWithBlock([](Object& self) -> std::string { return self.description(); });
    ClassAccess::initRoot(*tables, root);
    return tables;
  }();
  return *t;
}

void flushPending() {
  // Configure functions run during the flush and may use the runtime; they see the classes
  // published so far and never flush again themselves.
  thread_local bool flushing = false;
  if (flushing) return;
  Pending& p = pending();
  // Other threads wait here until every queued class is visible.
  std::lock_guard flushLock(p.flushMutex);
  flushing = true;
  for (;;) {
    std::vector<PendingClass> classes;
    std::vector<PendingProtocol> protocols;
    {
      std::lock_guard lock(p.mutex);
      if (p.classes.empty() && p.protocols.empty()) {
        p.any.store(false, std::memory_order_release);
        break;
      }
      classes.swap(p.classes);
      protocols.swap(p.protocols);
    }
    for (PendingProtocol& proto : protocols) {
      registerProtocol(std::move(proto.name), std::move(proto.methods), std::move(proto.inherited));
    }
    // Superclasses first, whatever order the registrars ran in.
    bool progress = true;
    while (progress && !classes.empty()) {
      progress = false;
      for (auto it = classes.begin(); it != classes.end();) {
        bool superReady = it->superclassName == nullptr || *it->superclassName == '\0';
        if (!superReady) {
          std::shared_lock lock(rawTables().mutex);
          superReady = rawTables().classes.count(std::string_view(it->superclassName)) > 0;
        }
        if (superReady) {
          void (*configure)(Class&) = it->configure;
          ClassAccess::registerNow(it->name, it->superclassName ? it->superclassName : "",
                                   it->instanceSize, [configure](Class& c) {
                                     if (configure) configure(c);
                                   });
          it = classes.erase(it);
          progress = true;
        } else {
          ++it;
        }
      }
    }
    if (!classes.empty()) {
      std::lock_guard lock(p.mutex);
      p.orphans.insert(p.orphans.end(), classes.begin(), classes.end());
    }
  }
  flushing = false;
}

// A class registered at run time may be the superclass that queued classes wait for.
void retryOrphans() {
  Pending& p = pending();
  std::lock_guard lock(p.mutex);
  if (p.orphans.empty()) return;
  p.classes.insert(p.classes.end(), p.orphans.begin(), p.orphans.end());
  p.orphans.clear();
  p.any.store(true, std::memory_order_release);
}

}  // namespace

// ---- Implementation -------------------------------------------------------------------------

void detail::throwObjectClassMismatch(const Object& object, const std::type_info& wanted) {
  throw Exception(kInvalidArgumentException, "an object of class " + object.className() +
                                                 " was passed where " + demangle(wanted) +
                                                 " is expected");
}

std::string Implementation::describeSignature(const std::type_info& result,
                                              std::initializer_list<const std::type_info*> args) {
  std::string text = demangle(result) + "(";
  bool first = true;
  for (const std::type_info* a : args) {
    if (!first) text += ", ";
    first = false;
    text += demangle(*a);
  }
  return text + ")";
}

void Implementation::signatureMismatch(const std::string& asked) const {
  throw Exception(kInvalidArgumentException,
                  "implementation of type " + text_ + " called as " + asked);
}

std::string Implementation::description() const {
  return "<IMP " + text_ + ": " + addressText(this) + ">";
}

// ---- RootObject and Class -------------------------------------------------------------------

RootObject::~RootObject() = default;

std::string RootObject::description() const {
  IMP imp = lookUpImplementation(this, "description");
  if (imp && imp != rawTables().rootDescription) {
    return imp->call<std::string>(const_cast<RootObject&>(*this));
  }
  return "<" + objectGetClassName(this) + ": " + addressText(this) + ">";
}

Class::Class(std::string name, bool isMeta) : name_(std::move(name)), isMeta_(isMeta) {}

Class* Class::superclass() const { return ClassAccess::superOf(this); }

bool Class::isRegistered() const {
  std::shared_lock lock(rawTables().mutex);
  return registered_;
}

std::size_t Class::instanceSize() const {
  std::shared_lock lock(rawTables().mutex);
  return instanceSize_;
}

bool Class::addMethodImpl(Class* cls, std::string selector, IMP imp, std::string types) {
  return ClassAccess::addMethod(cls, selector, std::move(imp), types);
}

void Class::addProtocol(std::string protocolName) {
  std::unique_lock lock(rawTables().mutex);
  for (const auto& p : protocols_) {
    if (p == protocolName) return;
  }
  protocols_.push_back(std::move(protocolName));
}

bool Class::addIvar(Ivar ivar) {
  std::unique_lock lock(rawTables().mutex);
  if (registered_ || ivar.name.empty()) return false;
  for (const Ivar& existing : ivars_) {
    if (existing.name == ivar.name) return false;
  }
  if (!ivar.getter) instanceSize_ += ivar.size;
  ivars_.push_back(std::move(ivar));
  return true;
}

void Class::setFactory(Factory factory) {
  std::unique_lock lock(rawTables().mutex);
  factory_ = std::move(factory);
}

// ---- Protocol -------------------------------------------------------------------------------

const MethodDescription* Protocol::methodDescription(std::string_view selector, bool required,
                                                     bool instance) const {
  std::vector<const Protocol*> todo{this};
  std::set<const Protocol*> seen;
  while (!todo.empty()) {
    const Protocol* p = todo.back();
    todo.pop_back();
    if (!seen.insert(p).second) continue;
    for (const MethodDescription& m : p->methods_) {
      if (m.selector == selector && m.required == required && m.instance == instance) return &m;
    }
    for (const std::string& name : p->inherited_) {
      if (const Protocol* q = protocolNamed(name)) todo.push_back(q);
    }
  }
  return nullptr;
}

bool Protocol::conformsTo(std::string_view protocolName) const {
  std::vector<const Protocol*> todo{this};
  std::set<const Protocol*> seen;
  while (!todo.empty()) {
    const Protocol* p = todo.back();
    todo.pop_back();
    if (!seen.insert(p).second) continue;
    if (p->name_ == protocolName) return true;
    for (const std::string& name : p->inherited_) {
      if (name == protocolName) return true;
      if (const Protocol* q = protocolNamed(name)) todo.push_back(q);
    }
  }
  return false;
}

Protocol* registerProtocol(std::string name, std::vector<MethodDescription> methods,
                           std::vector<std::string> inheritedProtocols) {
  Tables& t = rawTables();
  std::unique_lock lock(t.mutex);
  auto it = t.protocols.find(name);
  if (it != t.protocols.end()) return it->second.get();
  auto proto = std::unique_ptr<Protocol>(new Protocol);
  proto->name_ = name;
  proto->methods_ = std::move(methods);
  proto->inherited_ = std::move(inheritedProtocols);
  Protocol* raw = proto.get();
  t.protocols.emplace(std::move(name), std::move(proto));
  return raw;
}

Protocol* protocolNamed(std::string_view name) {
  Tables& t = tables();
  std::shared_lock lock(t.mutex);
  auto it = t.protocols.find(name);
  return it == t.protocols.end() ? nullptr : it->second.get();
}

bool classConformsToProtocol(const Class* cls, std::string_view protocolName) {
  if (!cls) return false;
  for (const std::string& name : ClassAccess::protocolNames(cls)) {
    if (name == protocolName) return true;
    if (const Protocol* p = protocolNamed(name); p && p->conformsTo(protocolName)) return true;
  }
  return false;
}

// ---- Classes --------------------------------------------------------------------------------

Class* classNamed(std::string_view name) {
  Tables& t = tables();
  std::shared_lock lock(t.mutex);
  auto it = t.classes.find(name);
  return it == t.classes.end() ? nullptr : it->second;
}

Class* registerClass(std::string_view name, std::string_view superclassName,
                     std::size_t instanceSize, const std::function<void(Class&)>& configure) {
  if (name.empty()) return nullptr;
  tables();
  Class* cls = ClassAccess::registerNow(name, superclassName, instanceSize, configure);
  if (cls) retryOrphans();
  return cls;
}

Class* allocateClassPair(Class* superclass, std::string_view name) {
  return ClassAccess::allocatePair(superclass, name);
}

void registerClassPair(Class* cls) {
  ClassAccess::registerPair(cls);
  if (cls) retryOrphans();
}

std::vector<Class*> allClasses() {
  Tables& t = tables();
  std::shared_lock lock(t.mutex);
  std::vector<Class*> out;
  for (const auto& [name, cls] : t.classes) out.push_back(cls);
  return out;
}

std::size_t classGetInstanceSize(const Class* cls) { return cls ? cls->instanceSize() : 0; }

bool classIsSubclassOf(const Class* cls, const Class* ancestor) {
  if (!ancestor) return false;
  for (; cls; cls = ClassAccess::superOf(cls)) {
    if (cls == ancestor) return true;
  }
  return false;
}

std::shared_ptr<Object> createInstance(Class* cls) {
  tables();
  return ClassAccess::create(cls);
}

ClassRegistrar::ClassRegistrar(const char* name, const char* superclassName,
                               std::size_t instanceSize, void (*configure)(Class&)) {
  Pending& p = pending();
  std::lock_guard lock(p.mutex);
  p.classes.push_back(PendingClass{name, superclassName, instanceSize, configure});
  p.any.store(true, std::memory_order_release);
}

ProtocolRegistrar::ProtocolRegistrar(const char* name, std::vector<MethodDescription> methods,
                                     std::vector<std::string> inheritedProtocols) {
  Pending& p = pending();
  std::lock_guard lock(p.mutex);
  p.protocols.push_back(PendingProtocol{name, std::move(methods), std::move(inheritedProtocols)});
  p.any.store(true, std::memory_order_release);
}

// ---- Objects --------------------------------------------------------------------------------

Class* objectGetClass(const Object* object) {
  if (!object) return nullptr;
  if (auto* root = dynamic_cast<const RootObject*>(object)) {
    if (Class* cls = root->isa_.load(std::memory_order_acquire)) return cls;
    if (Class* cls = classNamed(root->className())) {
      Class* expected = nullptr;
      // Another thread (or objectSetClass) may have set it meanwhile; that one wins.
      if (root->isa_.compare_exchange_strong(expected, cls, std::memory_order_acq_rel)) {
        return cls;
      }
      return expected;
    }
    return rawTables().root;
  }
  if (Class* cls = classNamed(object->className())) return cls;
  return tables().root;
}

std::string objectGetClassName(const Object* object) {
  Class* cls = objectGetClass(object);
  return cls ? cls->name() : "nil";
}

Class* objectSetClass(Object* object, Class* cls) {
  auto* root = dynamic_cast<RootObject*>(object);
  if (!root || !cls) return nullptr;
  Class* previous = root->isa_.load(std::memory_order_acquire);
  if (!previous && !dynamic_cast<Class*>(object)) previous = objectGetClass(object);
  root->isa_.store(cls, std::memory_order_release);
  return previous;
}

Value objectGetIvar(const Object* object, std::string_view name) {
  auto* root = dynamic_cast<const RootObject*>(object);
  if (!root) return Value();
  return AssociationAccess::getIvar(*root, name);
}

bool objectSetIvar(Object* object, std::string_view name, Value value) {
  auto* root = dynamic_cast<RootObject*>(object);
  if (!root || !ClassAccess::declaresStoredIvar(objectGetClass(object), name)) return false;
  AssociationAccess::setIvar(*root, name, std::move(value));
  return true;
}

std::vector<Ivar> classCopyIvarList(const Class* cls) {
  if (!cls) return {};
  return ClassAccess::ivars(cls);
}

std::vector<Value> ivarObjectsForObject(const Object* object) {
  std::vector<Value> out;
  Class* cls = objectGetClass(object);
  if (!cls) return out;
  for (const Ivar& ivar : ClassAccess::ivars(cls)) {
    if (ivar.types.empty() || ivar.types[0] != '@') continue;
    Value v = ivar.getter ? ivar.getter(*object) : objectGetIvar(object, ivar.name);
    if (!v.isNil()) out.push_back(std::move(v));
  }
  return out;
}

void setAssociatedObject(Object* object, const void* key, Value value, AssociationPolicy policy) {
  if (auto* root = dynamic_cast<RootObject*>(object)) {
    AssociationAccess::set(*root, key, std::move(value), policy);
  }
}

Value getAssociatedObject(const Object* object, const void* key) {
  auto* root = dynamic_cast<const RootObject*>(object);
  return root ? AssociationAccess::get(*root, key) : Value();
}

void removeAssociatedObjects(Object* object) {
  if (auto* root = dynamic_cast<RootObject*>(object)) AssociationAccess::removeAll(*root);
}

// ---- Methods --------------------------------------------------------------------------------

std::optional<Method> classGetInstanceMethod(const Class* cls, std::string_view selector) {
  if (!cls) return std::nullopt;
  Tables& t = tables();
  std::shared_lock lock(t.mutex);
  if (const Method* m = ClassAccess::findMethod(cls, selector)) return *m;
  return std::nullopt;
}

std::optional<Method> classGetClassMethod(const Class* cls, std::string_view selector) {
  return cls ? classGetInstanceMethod(cls->metaclass(), selector) : std::nullopt;
}

IMP classGetMethodImplementation(const Class* cls, std::string_view selector) {
  auto m = classGetInstanceMethod(cls, selector);
  return m ? m->implementation : nullptr;
}

std::vector<Method> classCopyMethodList(const Class* cls) {
  if (!cls) return {};
  tables();
  return ClassAccess::methods(cls);
}

bool classAddMethod(Class* cls, std::string_view selector, IMP imp, std::string_view types) {
  tables();
  return ClassAccess::addMethod(cls, selector, std::move(imp), types);
}

IMP classReplaceMethod(Class* cls, std::string_view selector, IMP imp, std::string_view types) {
  tables();
  return ClassAccess::replaceMethod(cls, selector, std::move(imp), types);
}

bool classRespondsToSelector(const Class* cls, std::string_view selector) {
  return classGetInstanceMethod(cls, selector).has_value();
}

// ---- Message send ---------------------------------------------------------------------------

IMP lookUpImplementation(const Object* object, std::string_view selector) {
  return classGetMethodImplementation(objectGetClass(object), selector);
}

bool respondsToSelector(const Object* object, std::string_view selector) {
  return object && lookUpImplementation(object, selector) != nullptr;
}

bool conformsToProtocol(const Object* object, std::string_view protocolName) {
  return object && classConformsToProtocol(objectGetClass(object), protocolName);
}

void doesNotRecognizeSelector(const Object* object, std::string_view selector) {
  Class* cls = objectGetClass(object);
  bool isClass = cls && cls->isMetaclass();
  std::string text = std::string(isClass ? "+[" : "-[") + (cls ? cls->name() : "nil") + " " +
                     std::string(selector) + "]: unrecognized selector sent to " +
                     (isClass ? "class " : "instance ") + addressText(object);
  throw Exception(kInvalidArgumentException, text);
}

}  // namespace platform::runtime
