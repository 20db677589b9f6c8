// Turning points into taps, swipes and scrolling, against the record of what was drawn.
#include <algorithm>
#include <cmath>

#include "platform/ui/Tree.h"

namespace platform::ui::detail {
namespace {

bool hits(const DrawnItem& item, Point p) {
  return Tree::intersect(item.clip, item.frame).contains(p);
}

// The list row holding `node`, and its list.
Node* rowOf(Node* node, Node** list) {
  for (Node* n = node; n && n->parent; n = n->parent) {
    if (n->parent->blueprint->kind == Kind::list) {
      if (list) *list = n->parent;
      return n;
    }
  }
  return nullptr;
}

}  // namespace

bool isTappable(const Node& node) {
  Kind k = node.blueprint->kind;
  return k == Kind::button || k == Kind::navigationLink || node.isModifier(Mod::onTap);
}

bool isDisabled(const Node& node) {
  for (const Node* n = &node; n; n = n->parent) {
    if (n->isModifier(Mod::disabled) && n->blueprint->flag) return true;
  }
  return false;
}

int Tree::topLayer() const { return static_cast<int>(sheets.size()); }

bool Tree::tap(Point p) {
  int layer = topLayer();
  // A tap outside a popover only closes it.
  if (!sheets.empty() && sheets.back().popover && !sheets.back().closing &&
      !popoverContains(sheets.back(), p)) {
    endEditing();
    dismissSheet(sheets.size() - 1);
    return true;
  }
  bool swipesOpen = false;
  for (auto& item : drawn) {
    if (item.node->blueprint->kind == Kind::list) {
      for (auto& [k, v] : item.node->swipeOffsets) swipesOpen = swipesOpen || v > 0;
    }
  }
  for (auto it = drawn.rbegin(); it != drawn.rend(); ++it) {
    if (it->layer != layer || !hits(*it, p)) continue;
    Node& node = *it->node;
    if (node.blueprint->kind == Kind::navigationView && node.backFrame.contains(p)) {
      pop(node);
      return true;
    }
    if (node.blueprint->kind == Kind::textField && !isDisabled(node)) {
      if (swipesOpen) closeSwipes();
      focus(&node, p);
      return true;
    }
    if (!isTappable(node) || isDisabled(node)) continue;
    bool isSwipeAction = false;
    for (Node *c = &node, *n = node.parent; n; c = n, n = n->parent) {
      if (n->isModifier(Mod::swipeActions) && c != n->content()) {
        isSwipeAction = true;
        break;
      }
    }
    if (swipesOpen && !isSwipeAction) {
      closeSwipes();
      return false;
    }
    auto keep = node.shared_from_this();
    endEditing();
    if (node.blueprint->kind == Kind::navigationLink) {
      push(node);
    } else if (node.blueprint->action) {
      node.blueprint->action();
    }
    if (isSwipeAction) closeSwipes();
    requestLayout();
    return true;
  }
  if (swipesOpen) closeSwipes();
  endEditing();
  return false;
}

Node* Tree::scrollContainerAt(Point p) {
  int layer = topLayer();
  for (auto it = drawn.rbegin(); it != drawn.rend(); ++it) {
    if (it->layer != layer || !hits(*it, p)) continue;
    if (isScrollContainer(*it->node)) return it->node.get();
  }
  return nullptr;
}

void Tree::scrollAt(Point p, double dx, double dy) {
  Node* target = scrollContainerAt(p);
  if (!target) return;
  scrollBy(*target, dx, dy);
}

void Tree::scrollBy(Node& target, double dx, double dy) {
  if (target.blueprint->kind == Kind::scroll && target.blueprint->axis == Axis::horizontal) {
    target.scrollOffset.x = std::max(0.0, target.scrollOffset.x + (dx != 0 ? dx : dy));
  } else {
    target.scrollOffset.y = std::max(0.0, target.scrollOffset.y + dy);
  }
  requestLayout();
}

Node* Tree::rowWithSwipeActions(Node* node, Node** list, std::string* rowKey) {
  Node* l = nullptr;
  Node* row = rowOf(node, &l);
  if (!row || !swipeModifierOf(row)) return nullptr;
  if (list) *list = l;
  if (rowKey) *rowKey = row->key;
  return row;
}

void Tree::setSwipe(Node& list, const std::string& rowKey, double offset) {
  for (auto& [k, v] : list.swipeOffsets) {
    if (k != rowKey) v = 0;
  }
  list.swipeOffsets[rowKey] = std::max(0.0, offset);
  requestLayout();
}

void Tree::closeSwipes() {
  std::vector<Node*> lists;
  for (auto& item : drawn) {
    if (item.node->blueprint->kind == Kind::list) lists.push_back(item.node.get());
  }
  for (Node* l : lists) {
    for (auto& [k, v] : l->swipeOffsets) v = 0;
  }
  requestLayout();
}

double Tree::swipeRevealWidth(Node& row) {
  Node* swipe = swipeModifierOf(&row);
  return swipe ? swipe->contentSize.width : 0;
}

Node* Tree::nodeAt(Point p) {
  int layer = topLayer();
  for (auto it = drawn.rbegin(); it != drawn.rend(); ++it) {
    if (it->layer == layer && hits(*it, p)) return it->node.get();
  }
  return nullptr;
}

void Tree::dragBegan(Point p) {
  drag = Drag{};
  drag.active = true;
  drag.start = drag.last = p;
}

void Tree::dragMoved(Point p) {
  if (!drag.active) return;
  double dx = p.x - drag.start.x, dy = p.y - drag.start.y;
  if (drag.mode == Drag::Mode::undecided && std::hypot(dx, dy) >= 8) {
    Node* under = nodeAt(drag.start);
    Node* list = nullptr;
    std::string key;
    if (std::abs(dx) > std::abs(dy) && under && rowWithSwipeActions(under, &list, &key)) {
      drag.mode = Drag::Mode::swipe;
      drag.target = list->weak_from_this();
      drag.rowKey = key;
      drag.startOffset = list->swipeOffsets[key];
    } else {
      Node* scroller = scrollContainerAt(drag.start);
      bool inSheet = !sheets.empty() && !sheets.back().popover;
      bool atTop = !scroller || scroller->scrollOffset.y <= 0;
      if (inSheet && dy > 0 && std::abs(dy) > std::abs(dx) && atTop) {
        drag.mode = Drag::Mode::sheet;
      } else {
        drag.mode = Drag::Mode::scroll;
        if (scroller) drag.target = scroller->weak_from_this();
      }
    }
  }
  switch (drag.mode) {
    case Drag::Mode::swipe:
      if (auto list = drag.target.lock()) {
        Node* row = list->lazyRows.count(drag.rowKey) ? list->lazyRows[drag.rowKey].get() : nullptr;
        Node* swipe = row ? swipeModifierOf(row) : nullptr;
        double reveal = row ? swipeRevealWidth(*row) : 0;
        // Without full swipe a long drag stops at the revealed actions.
        double limit = swipe && swipe->blueprint->flag ? row->rowFrame.width : reveal;
        bool leading = swipe && swipe->blueprint->hAlign == HorizontalAlignment::leading;
        setSwipe(*list, drag.rowKey,
                 std::clamp(drag.startOffset + (leading ? dx : -dx), 0.0, limit));
      }
      break;
    case Drag::Mode::scroll:
      if (auto target = drag.target.lock())
        scrollBy(*target, -(p.x - drag.last.x), -(p.y - drag.last.y));
      break;
    case Drag::Mode::sheet:
      if (!sheets.empty()) {
        sheets.back().dragOffset = std::max(0.0, dy);
        requestLayout();
      }
      break;
    case Drag::Mode::undecided:
      break;
  }
  drag.last = p;
}

void Tree::dragEnded(Point p) {
  if (!drag.active) return;
  dragMoved(p);
  Drag ended = drag;
  drag = Drag{};
  switch (ended.mode) {
    case Drag::Mode::undecided:
      tap(ended.start);
      break;
    case Drag::Mode::swipe: {
      auto list = ended.target.lock();
      if (!list || !list->lazyRows.count(ended.rowKey)) break;
      Node* row = list->lazyRows[ended.rowKey].get();
      Node* swipe = swipeModifierOf(row);
      double offset = list->swipeOffsets[ended.rowKey];
      double reveal = swipeRevealWidth(*row);
      if (swipe && swipe->blueprint->flag && offset > row->rowFrame.width * 0.6 &&
          swipe->children.size() > 1) {
        Node& first = *swipe->children[1];
        auto keep = first.shared_from_this();
        setSwipe(*list, ended.rowKey, 0);
        if (first.blueprint->kind == Kind::button && first.blueprint->action) first.blueprint->action();
      } else {
        setSwipe(*list, ended.rowKey, offset > reveal / 2 ? reveal : 0);
      }
      break;
    }
    case Drag::Mode::sheet:
      if (!sheets.empty()) {
        double offset = sheets.back().dragOffset;
        sheets.back().dragOffset = 0;
        if (offset > 100) dismissSheet(sheets.size() - 1);
        requestLayout();
      }
      break;
    case Drag::Mode::scroll:
      break;
  }
}

}  // namespace platform::ui::detail
