#include "platform/ui/Tree.h"

#include <cairo.h>

#include <algorithm>
#include <stdexcept>
#include <unordered_set>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"

namespace platform::ui {

namespace detail {
namespace {

struct EvalContext {
  Node* node = nullptr;
  std::size_t slot = 0;
};
thread_local EvalContext* gCurrent = nullptr;

struct RowTag {};
struct DestinationTag {};
struct SheetTag {};

View componentOf(std::type_index type, std::function<View()> body) {
  auto s = std::make_shared<Blueprint>();
  s->kind = Kind::component;
  s->type = type;
  s->body = std::move(body);
  return View(std::move(s));
}

View rowView(const std::shared_ptr<const Blueprint>& forEach, std::size_t index) {
  auto row = forEach->row;
  return componentOf(typeid(RowTag), [row, index] { return row(index); });
}

std::string explicitKey(const View& v) {
  const auto& s = v.blueprint();
  if (s->kind == Kind::modifier && s->mod == Mod::id) return "id:" + s->text;
  return {};
}

bool sameIdentity(const Node& old, const Blueprint& blueprint) {
  const Blueprint& o = *old.blueprint;
  if (o.kind != blueprint.kind) return false;
  if (o.kind == Kind::modifier && o.mod != blueprint.mod) return false;
  if (o.kind == Kind::modifier && o.mod == Mod::id && o.text != blueprint.text) return false;
  if (o.type != blueprint.type) return false;
  return true;
}

}  // namespace

void StateSlotBase::changed() const {
  auto node = owner.lock();
  if (node && node->tree && node->attached) node->tree->markDirty(*node);
}

std::shared_ptr<StateSlotBase> nextSlot(const std::type_info& type,
                                        const std::function<std::shared_ptr<StateSlotBase>()>& make) {
  if (!gCurrent) throw std::logic_error("state() used outside a view body");
  Node& node = *gCurrent->node;
  std::size_t index = gCurrent->slot++;
  if (index < node.slots.size() && typeid(*node.slots[index]) == type) return node.slots[index];
  auto slot = make();
  slot->owner = node.weak_from_this();
  if (index < node.slots.size()) {
    node.slots[index] = slot;
  } else {
    node.slots.push_back(slot);
  }
  return slot;
}

void observe(const std::shared_ptr<ObservableObject>& object) {
  if (!gCurrent) throw std::logic_error("observedObject() used outside a view body");
  std::weak_ptr<Node> weak = gCurrent->node->weak_from_this();
  auto mark = [weak] {
    auto node = weak.lock();
    if (node && node->tree && node->attached) node->tree->markDirty(*node);
  };
  gCurrent->node->observations.push_back(object->subscribe([mark] {
    if (isMainThread()) {
      mark();
    } else {
      DispatchQueue::main()->async(mark);
    }
  }));
}

// ---------------------------------------------------------------------------------------------

Tree::Tree(View rootView, HostOptions opts) : options(opts) {
  root = reconcile(nullptr, nullptr, rootView, "root", rootEnvironment());
}

Tree::~Tree() {
  *alive = false;
  if (root) detach(*root);
  for (auto& p : sheets) detach(*p.content);
  for (auto& [name, surface] : images_) {
    if (surface) cairo_surface_destroy(surface);
  }
}

Environment Tree::rootEnvironment() const {
  Environment env;
  env.colorScheme = options.colorScheme;
  env.idiom = options.idiom;
  return env;
}

void Tree::detach(Node& node) {
  node.attached = false;
  node.tree = nullptr;  // a removed node never comes back; elements held by tests stay safe
  node.observations.clear();
  node.dirty = false;
  for (auto& c : node.children) detach(*c);
  for (auto& [k, r] : node.lazyRows) detach(*r);
  for (auto& p : node.stack) detach(*p.screen);
  if (node.controller) node.controller.reset();
  node.coordinator.reset();
}

void Tree::flatten(const std::vector<View>& views, const std::string& prefix,
                   std::vector<RowSource>& out, bool expandSections) {
  flattenRange(views.data(), views.data() + views.size(), prefix, out, expandSections, -1);
}

void Tree::flattenRange(const View* begin, const View* end, const std::string& prefix,
                        std::vector<RowSource>& out, bool expandSections, int section) {
  for (const View* it = begin; it != end; ++it) {
    const View& v = *it;
    const auto& s = v.blueprint();
    std::size_t i = static_cast<std::size_t>(it - begin);
    std::string key = explicitKey(v);
    if (key.empty()) key = prefix + std::to_string(i);
    if (s->kind == Kind::group) {
      flattenRange(s->children.data(), s->children.data() + s->children.size(), key + ".", out,
                   expandSections, section);
    } else if (s->kind == Kind::forEach) {
      for (std::size_t r = 0; r < s->count; ++r) {
        RowSource row;
        row.forEach = s;
        row.index = r;
        row.key = key + "/" + (r < s->ids.size() ? s->ids[r] : std::to_string(r));
        row.section = section;
        out.push_back(std::move(row));
      }
    } else if (s->kind == Kind::empty) {
      continue;
    } else if (s->kind == Kind::section && expandSections) {
      int index = static_cast<int>(i);
      const View* first = s->children.data();
      const View* last = first + s->children.size();
      if (s->flag && first != last) {
        RowSource header;
        header.view = first;
        header.key = key + ".h";
        header.sectionHeader = true;
        header.section = index;
        out.push_back(header);
        ++first;
      } else {
        // A section without a header still starts its own group.
        RowSource marker;
        marker.key = key + ".h";
        marker.sectionHeader = true;
        marker.section = index;
        out.push_back(marker);
      }
      flattenRange(first, last, key + ".", out, false, index);
    } else {
      RowSource row;
      row.view = &v;
      row.key = key;
      row.section = section;
      out.push_back(row);
    }
  }
}

std::shared_ptr<Node> Tree::buildRow(Node& container, const RowSource& row) {
  std::shared_ptr<Node> old;
  if (auto it = container.lazyRows.find(row.key); it != container.lazyRows.end()) old = it->second;
  if (old && old->builtVersion == container.rowsVersion && !old->dirty && old->attached) {
    return old;  // built for the container's current state
  }
  View v = row.forEach ? rowView(row.forEach, row.index) : *row.view;
  auto node = reconcile(&container, old, v, row.key, container.env);
  node->builtVersion = container.rowsVersion;
  container.lazyRows[row.key] = node;
  return node;
}

std::shared_ptr<Node> Tree::reconcile(Node* parent, std::shared_ptr<Node> old, const View& view,
                                      const std::string& key, const Environment& env) {
  const auto& blueprint = view.blueprint();
  std::shared_ptr<Node> node;
  if (old && old->key == key && sameIdentity(*old, *blueprint)) {
    node = std::move(old);
  } else {
    if (old) detach(*old);
    node = std::make_shared<Node>();
    node->tree = this;
    node->key = key;
  }
  node->parent = parent;
  node->blueprint = blueprint;
  node->env = env;
  node->attached = true;
  node->measureGeneration = 0;

  switch (blueprint->kind) {
    case Kind::component:
      evaluate(*node);
      break;
    case Kind::hosted: {
      RepresentableContext context;
      if (!node->controller) {
        if (blueprint->makeCoordinator) node->coordinator = blueprint->makeCoordinator();
        context.coordinator = node->coordinator;
        context.environment = env;
        if (blueprint->makeController) node->controller = blueprint->makeController(context);
      } else if (blueprint->updateController) {
        context.coordinator = node->coordinator;
        context.environment = env;
        blueprint->updateController(*node->controller, context);
      }
      evaluate(*node);
      break;
    }
    case Kind::group:
    case Kind::forEach:
    case Kind::vstack:
    case Kind::hstack:
    case Kind::zstack:
    case Kind::section: {
      std::vector<RowSource> rows;
      // A ForEach on its own (a body that is one) lays its rows out like a group.
      if (blueprint->kind == Kind::forEach) {
        flatten({view}, "", rows, false);
      } else {
        flatten(blueprint->children, "", rows, false);
      }
      std::unordered_map<std::string, std::shared_ptr<Node>> byKey;
      for (auto& c : node->children) byKey.emplace(c->key, c);
      std::vector<std::shared_ptr<Node>> next;
      std::unordered_set<std::string> used;
      for (auto& row : rows) {
        std::string k = row.key;
        while (used.count(k)) k += "'";
        used.insert(k);
        std::shared_ptr<Node> prev;
        if (auto it = byKey.find(k); it != byKey.end()) {
          prev = it->second;
          byKey.erase(it);
        }
        View v = row.forEach ? rowView(row.forEach, row.index) : *row.view;
        next.push_back(reconcile(node.get(), prev, v, k, env));
      }
      for (auto& [k, c] : byKey) detach(*c);
      node->children = std::move(next);
      break;
    }
    case Kind::grid:
    case Kind::list:
      // Rows are built lazily by layout; the ones already built are now out of date.
      ++node->rowsVersion;
      node->rowsStale = true;
      break;
    case Kind::navigationView: {
      auto prev = node->children.empty() ? nullptr : node->children[0];
      node->children = {reconcile(node.get(), prev, blueprint->children[0], "root", env)};
      for (std::size_t i = 0; i < node->stack.size(); ++i) {
        auto& pushed = node->stack[i];
        auto link = pushed.link.lock();
        View dest = (link && link->attached) ? componentOf(typeid(DestinationTag), link->blueprint->body)
                                             : View(pushed.screen->blueprint);
        pushed.screen = reconcile(node.get(), pushed.screen, dest, "push" + std::to_string(i), env);
      }
      break;
    }
    default: {
      std::vector<std::shared_ptr<Node>> next;
      for (std::size_t i = 0; i < blueprint->children.size(); ++i) {
        auto prev = i < node->children.size() ? node->children[i] : nullptr;
        next.push_back(reconcile(node.get(), prev, blueprint->children[i], std::to_string(i), env));
      }
      for (std::size_t i = blueprint->children.size(); i < node->children.size(); ++i) detach(*node->children[i]);
      node->children = std::move(next);
      if (blueprint->kind == Kind::modifier && blueprint->mod == Mod::sheet) {
        if (!node->sheetRegistered) {
          node->sheetRegistered = true;
          sheetModifiers_.push_back(node);
        }
        for (auto& p : sheets) {
          // A sheet about to close is not rebuilt on its way out.
          if (p.modifier.lock() == node && !p.closing && blueprint->binding.get()) {
            p.body = blueprint->body;
            markDirty(*p.content);
          }
        }
      }
      break;
    }
  }
  node->dirty = false;
  needsLayout_ = true;
  return node;
}

void Tree::evaluate(Node& node) {
  EvalContext context{&node, 0};
  EvalContext* previous = gCurrent;
  gCurrent = &context;
  node.observations.clear();
  ++evaluations;
  View out;
  try {
    if (node.blueprint->kind == Kind::hosted) {
      if (node.controller) {
        observe(node.controller);
        out = node.controller->body();
      }
    } else if (node.blueprint->body) {
      out = node.blueprint->body();
    }
  } catch (...) {
    gCurrent = previous;
    throw;
  }
  gCurrent = previous;
  auto prev = node.children.empty() ? nullptr : node.children[0];
  auto child = reconcile(&node, prev, out, "body", node.env);
  node.children = {child};
}

void Tree::markDirty(Node& node) {
  if (node.dirty) return;
  node.dirty = true;
  dirty_.push_back(node.weak_from_this());
  scheduleUpdate();
}

void Tree::scheduleUpdate() {
  if (scheduled_) return;
  scheduled_ = true;
  std::weak_ptr<bool> token = alive;
  DispatchQueue::main()->async([this, token] {
    auto a = token.lock();
    if (a && *a) update();
  });
}

void Tree::requestLayout() {
  needsLayout_ = true;
  scheduleUpdate();
}

void Tree::rebuildAll() {
  Environment env = rootEnvironment();
  root = reconcile(nullptr, root, root->blueprint ? View(root->blueprint) : View(), "root", env);
  for (auto& p : sheets) {
    Environment senv = env;
    senv.presentationMode = p.content->env.presentationMode;
    p.content = reconcile(nullptr, p.content, componentOf(typeid(SheetTag), p.body), "sheet", senv);
  }
  scheduleUpdate();
}

bool Tree::hasDirtyAncestor(const Node& node) const {
  for (Node* p = node.parent; p; p = p->parent) {
    if (p->dirty) return true;
  }
  return false;
}

bool Tree::update() {
  scheduled_ = false;
  bool changed = false;
  for (int round = 0; round < 16 && !dirty_.empty(); ++round) {
    auto pending = std::move(dirty_);
    dirty_.clear();
    std::vector<std::shared_ptr<Node>> nodes;
    for (auto& w : pending) {
      auto n = w.lock();
      if (n && n->dirty && n->attached) nodes.push_back(n);
    }
    for (auto& n : nodes) {
      if (!n->dirty || !n->attached || hasDirtyAncestor(*n)) continue;
      Environment env = n->env;
      env.colorScheme = options.colorScheme;
      Node* parent = n->parent;
      auto rebuilt = reconcile(parent, n, View(n->blueprint), n->key, env);
      (void)rebuilt;  // same identity: the node rebuilt itself in place
      changed = true;
    }
  }
  if (syncSheets()) changed = true;
  if (needsLayout_ || changed) {
    needsLayout_ = false;
    layout();
    changed = true;
    if (needsDisplay) needsDisplay();
  }
  return changed;
}

// ---- Navigation ---------------------------------------------------------------------------

Node* Tree::visibleScreen(Node& nav) const {
  if (!nav.stack.empty()) return nav.stack.back().screen.get();
  return nav.content();
}

void Tree::push(Node& link) {
  Node* nav = link.parent;
  while (nav && nav->blueprint->kind != Kind::navigationView) nav = nav->parent;
  if (!nav || !link.blueprint->body) return;
  Node::Pushed pushed;
  pushed.link = link.weak_from_this();
  pushed.screen = reconcile(nav, nullptr, componentOf(typeid(DestinationTag), link.blueprint->body),
                            "push" + std::to_string(nav->stack.size()), nav->env);
  nav->stack.push_back(std::move(pushed));
  closeSwipes();
  requestLayout();
}

bool Tree::pop(Node& nav) {
  if (nav.stack.empty()) return false;
  detach(*nav.stack.back().screen);
  nav.stack.pop_back();
  requestLayout();
  return true;
}

// ---- Sheets -------------------------------------------------------------------------------

bool Tree::syncSheets() {
  bool changed = false;
  // Sheets whose presenter is gone, or whose binding went down, leave (topmost first).
  for (std::size_t i = sheets.size(); i-- > 0;) {
    auto& p = sheets[i];
    auto modifier = p.modifier.lock();
    bool keep = !p.closing;
    if (p.fromBinding) {
      keep = keep && modifier && modifier->attached && modifier->blueprint->binding.get();
    }
    if (keep) continue;
    auto onDismiss = p.onDismiss;
    auto content = p.content;
    sheets.erase(sheets.begin() + static_cast<long>(i));
    detach(*content);
    changed = true;
    if (onDismiss) {
      std::weak_ptr<bool> token = alive;
      DispatchQueue::main()->async([onDismiss, token] {
        if (auto a = token.lock(); a && *a) onDismiss();
      });
    }
  }
  // Raised bindings present their sheets, in tree order of their presenters.
  std::vector<std::weak_ptr<Node>> live;
  for (auto& w : sheetModifiers_) {
    auto m = w.lock();
    if (!m || !m->attached) continue;
    live.push_back(m);
    if (!m->blueprint->binding.get()) continue;
    bool shown = std::any_of(sheets.begin(), sheets.end(),
                             [&](const Presentation& p) { return p.modifier.lock() == m; });
    if (shown) continue;
    Presentation p;
    p.modifier = m;
    p.fromBinding = true;
    p.onDismiss = m->blueprint->onDismiss;
    p.body = m->blueprint->body;
    Environment env = m->env;
    env.colorScheme = options.colorScheme;
    env.presentationMode.isPresented = true;
    std::weak_ptr<Node> weak = m;
    env.presentationMode.dismissAction = [weak] {
      if (auto mod = weak.lock()) mod->blueprint->binding.set(false);
    };
    p.content = reconcile(nullptr, nullptr, componentOf(typeid(SheetTag), p.body), "sheet", env);
    sheets.push_back(std::move(p));
    closeSwipes();
    changed = true;
  }
  sheetModifiers_ = std::move(live);
  if (changed) needsLayout_ = true;
  return changed;
}

void Tree::presentBody(std::function<View()> body, std::function<void()> onDismiss) {
  Presentation p;
  p.onDismiss = std::move(onDismiss);
  p.body = std::move(body);
  Environment env = rootEnvironment();
  env.presentationMode.isPresented = true;
  auto id = ++presentationIds_;
  p.id = id;
  std::weak_ptr<bool> token = alive;
  env.presentationMode.dismissAction = [this, token, id] {
    auto a = token.lock();
    if (!a || !*a) return;
    for (auto& s : sheets) {
      if (s.id == id) s.closing = true;
    }
    requestLayout();
  };
  p.content = reconcile(nullptr, nullptr, componentOf(typeid(SheetTag), p.body), "sheet", env);
  sheets.push_back(std::move(p));
  closeSwipes();
  requestLayout();
}

void Tree::presentPopover(std::function<View()> body, Rect anchor, std::function<void()> onDismiss) {
  presentBody(std::move(body), std::move(onDismiss));
  sheets.back().popover = true;
  sheets.back().anchor = anchor;
}

void Tree::dismissSheet(std::size_t index) {
  if (index >= sheets.size()) return;
  auto& p = sheets[index];
  if (p.fromBinding) {
    if (auto m = p.modifier.lock()) {
      m->blueprint->binding.set(false);
    } else {
      p.closing = true;
    }
  } else {
    p.closing = true;
  }
  requestLayout();
}

}  // namespace detail

// ---- ObservableObject ---------------------------------------------------------------------

struct ObservableObject::Subscribers {
  std::mutex mutex;
  std::uint64_t next = 0;
  std::map<std::uint64_t, std::function<void()>> handlers;
};

std::shared_ptr<ObservableObject::Subscribers> ObservableObject::makeSubscribers() {
  return std::make_shared<Subscribers>();
}

void ObservableObject::objectWillChange() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> lock(subscribers_->mutex);
    for (auto& [id, h] : subscribers_->handlers) handlers.push_back(h);
  }
  for (auto& h : handlers) h();
}

std::shared_ptr<void> ObservableObject::subscribe(std::function<void()> willChange) {
  std::uint64_t id;
  {
    std::lock_guard<std::mutex> lock(subscribers_->mutex);
    id = ++subscribers_->next;
    subscribers_->handlers.emplace(id, std::move(willChange));
  }
  std::weak_ptr<Subscribers> weak = subscribers_;
  return std::shared_ptr<void>(nullptr, [weak, id](void*) {
    if (auto s = weak.lock()) {
      std::lock_guard<std::mutex> lock(s->mutex);
      s->handlers.erase(id);
    }
  });
}

const Environment& environment() {
  static const auto* kDefault = new Environment();  // never destroyed
  if (!detail::gCurrent) return *kDefault;
  return detail::gCurrent->node->env;
}

}  // namespace platform::ui
