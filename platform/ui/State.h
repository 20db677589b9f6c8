// View state: bindings, view-local state, observable objects and the environment. State lives in
// the retained tree node of the view that declared it, so it survives rebuilds of the view value.
// Main thread only: bodies run there, and state is read and written there.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>
#include <typeinfo>
#include <utility>

#include "platform/ui/Geometry.h"
#include "platform/ui/Style.h"

namespace platform::ui {

// A two-way reference to a value owned elsewhere (a state, an object's field).
template <class T>
class Binding {
 public:
  Binding() = default;
  Binding(std::function<T()> get, std::function<void(T)> set) : get_(std::move(get)), set_(std::move(set)) {}
  // A binding that reads `value` and ignores writes.
  static Binding constant(T value) {
    return Binding([value] { return value; }, [](T) {});
  }

  T get() const { return get_ ? get_() : T{}; }
  void set(T value) const {
    if (set_) set_(std::move(value));
  }
  explicit operator bool() const { return static_cast<bool>(get_); }

 private:
  std::function<T()> get_;
  std::function<void(T)> set_;
};

// The presentation of the sheet (or other modal content) showing a view.
struct PresentationMode {
  bool isPresented = false;
  // Closes the presentation: lowers the presenting binding, then the sheet's onDismiss runs once
  // the sheet is gone. Does nothing outside a presentation.
  std::function<void()> dismissAction;
  void dismiss() const {
    if (dismissAction) dismissAction();
  }
};

enum class UserInterfaceIdiom { phone, pad };

// What a body reads of its surroundings through environment().
struct Environment {
  ColorScheme colorScheme = ColorScheme::light;
  UserInterfaceIdiom idiom = UserInterfaceIdiom::phone;
  PresentationMode presentationMode;
  void dismiss() const { presentationMode.dismiss(); }
};

namespace detail {
class Node;
// A slot of a view's state, held by the node that owns it. `changed` marks the node for rebuild.
struct StateSlotBase {
  virtual ~StateSlotBase() = default;
  std::weak_ptr<Node> owner;
  void changed() const;
};
template <class T>
struct StateSlot : StateSlotBase {
  explicit StateSlot(T v) : value(std::move(v)) {}
  T value;
};
// The next slot of the body being evaluated; `make` creates it on the view's first build.
// Reports a contract failure when called outside a body.
// A slot of another type in that place (a body that declares state conditionally) is replaced.
std::shared_ptr<StateSlotBase> nextSlot(const std::type_info& type,
                                        const std::function<std::shared_ptr<StateSlotBase>()>& make);
}  // namespace detail

// A view-local value. Writing it rebuilds the view that owns it (batched on the main run loop).
template <class T>
class State {
 public:
  explicit State(std::shared_ptr<detail::StateSlot<T>> slot) : slot_(std::move(slot)) {}
  const T& get() const { return slot_->value; }
  const T& operator*() const { return slot_->value; }
  const T* operator->() const { return &slot_->value; }
  void set(T value) const {
    slot_->value = std::move(value);
    slot_->changed();
  }
  Binding<T> binding() const {
    auto slot = slot_;
    return Binding<T>([slot] { return slot->value; },
                      [slot](T v) {
                        slot->value = std::move(v);
                        slot->changed();
                      });
  }

 private:
  std::shared_ptr<detail::StateSlot<T>> slot_;
};

// An object whose changes rebuild the views that observe it. Call objectWillChange() before each
// change (Published does it for you); every observing view is rebuilt once, on the next turn of
// the main run loop, however many announcements came before it. Subscriptions are thread-safe;
// announcements from other threads are handed to the main thread.
class ObservableObject {
 public:
  virtual ~ObservableObject() = default;
  void objectWillChange();

  // The subscription ends when the returned token is released.
  std::shared_ptr<void> subscribe(std::function<void()> willChange);

 private:
  struct Subscribers;
  std::shared_ptr<Subscribers> subscribers_ = makeSubscribers();
  static std::shared_ptr<Subscribers> makeSubscribers();
};

// A field of an ObservableObject that announces each change to its owner before making it.
template <class T>
class Published {
 public:
  Published(ObservableObject* owner, T initial) : owner_(owner), value_(std::move(initial)) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  const T& get() const { return value_; }
  const T& operator*() const { return value_; }
  const T* operator->() const { return &value_; }
  void set(T value) {
    owner_->objectWillChange();
    value_ = std::move(value);
    afterChange();
  }
  // One in-place change: announce, then let `f` edit the value.
  template <class F>
  void mutate(F&& f) {
    owner_->objectWillChange();
    std::forward<F>(f)(value_);
    afterChange();
  }
  // Called after every change (persisting the value, for instance).
  void setDidChange(std::function<void(const T&)> didChange) { didChange_ = std::move(didChange); }

 private:
  void afterChange() {
    if (didChange_) didChange_(value_);
  }
  ObservableObject* owner_;
  T value_;
  std::function<void(const T&)> didChange_;
};

// ---- Declaring state inside a body. Valid only while a body (a view struct's body(), a
// ForEach row, a sheet's content, a navigation destination, a modifier's body) is evaluated.
// Slots are matched by call order, so call these unconditionally at the top of a body.

// View-local state: `initial` is used when the view first appears; afterwards the kept value.
template <class T>
State<T> state(T initial) {
  auto slot = detail::nextSlot(typeid(detail::StateSlot<T>), [&] {
    return std::make_shared<detail::StateSlot<T>>(std::move(initial));
  });
  return State<T>(std::static_pointer_cast<detail::StateSlot<T>>(slot));
}

// A state object: `make` runs once, when the view first appears; the same object comes back for
// as long as the view stays in the window. The view observes it.
template <class T>
std::shared_ptr<T> stateObject(const std::function<std::shared_ptr<T>()>& make);

// Observes `object` for this evaluation of the body: its next announced change rebuilds the view.
// Returns `object`. A null object is allowed and observes nothing.
template <class T>
std::shared_ptr<T> observedObject(std::shared_ptr<T> object);

// The environment of the view being built.
const Environment& environment();

namespace detail {
void observe(const std::shared_ptr<ObservableObject>& object);
}  // namespace detail

template <class T>
std::shared_ptr<T> observedObject(std::shared_ptr<T> object) {
  if (object) detail::observe(std::static_pointer_cast<ObservableObject>(object));
  return object;
}

template <class T>
std::shared_ptr<T> stateObject(const std::function<std::shared_ptr<T>()>& make) {
  auto slot = detail::nextSlot(typeid(detail::StateSlot<std::shared_ptr<T>>), [&] {
    return std::make_shared<detail::StateSlot<std::shared_ptr<T>>>(make());
  });
  auto object = std::static_pointer_cast<detail::StateSlot<std::shared_ptr<T>>>(slot)->value;
  return observedObject(object);
}

}  // namespace platform::ui
