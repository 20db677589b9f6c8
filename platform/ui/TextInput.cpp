// Editing text fields: focus, the caret and typing. The caret is a byte offset that always sits on
// a code point boundary, so no edit ever splits a multi-byte character.
#include <algorithm>

#include "platform/ui/Tree.h"

namespace platform::ui::detail {
namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence starting at `i`, or 0 when it is malformed.
std::size_t sequenceLength(const std::string& s, std::size_t i) {
  auto c = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  unsigned min = 0;
  unsigned cp = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2;
    cp = c & 0x1F;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    cp = c & 0x0F;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    cp = c & 0x07;
    min = 0x10000;
  } else
    return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto d = static_cast<unsigned char>(s[i + k]);
    if (!isContinuation(d)) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Keeps well-formed characters only; control characters other than line breaks and tabs go too,
// and a single-line field keeps no line breaks.
std::string sanitize(const std::string& in, bool multiline) {
  std::string out;
  for (std::size_t i = 0; i < in.size();) {
    std::size_t n = sequenceLength(in, i);
    if (n == 0) {
      ++i;
      continue;
    }
    auto c = static_cast<unsigned char>(in[i]);
    if (n == 1 && (c < 0x20 || c == 0x7F)) {
      if (multiline && (c == '\n' || c == '\t')) out += static_cast<char>(c);
      if (multiline && c == '\r' && !(i + 1 < in.size() && in[i + 1] == '\n')) out += '\n';
      ++i;
      continue;
    }
    out.append(in, i, n);
    i += n;
  }
  return out;
}

std::size_t previousBoundary(const std::string& s, std::size_t i) {
  if (i == 0) return 0;
  --i;
  while (i > 0 && isContinuation(static_cast<unsigned char>(s[i]))) --i;
  return i;
}

std::size_t nextBoundary(const std::string& s, std::size_t i) {
  if (i >= s.size()) return s.size();
  ++i;
  while (i < s.size() && isContinuation(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

std::size_t clampToBoundary(const std::string& s, std::size_t i) {
  i = std::min(i, s.size());
  while (i > 0 && i < s.size() && isContinuation(static_cast<unsigned char>(s[i]))) --i;
  return i;
}

bool isMultiline(const Node& field) { return field.blueprint->flag; }

std::optional<double> wrapWidth(const Node& field, const Rect& textFrame) {
  if (!isMultiline(field)) return std::nullopt;
  return std::max(1.0, textFrame.width);
}

}  // namespace

Node* Tree::focused() const {
  auto node = focusedField.lock();
  if (!node || !node->attached || node->tree != this) return nullptr;
  return node.get();
}

std::string Tree::fieldText(const Node& field) const { return field.blueprint->textBinding.get(); }

Rect Tree::fieldTextFrame(const Node& field) const {
  const Rect& f = field.frame;
  return {f.x + kFieldInsetX, f.y + kFieldInsetY, std::max(0.0, f.width - 2 * kFieldInsetX),
          std::max(0.0, f.height - 2 * kFieldInsetY)};
}

double Tree::fieldShift(const Node& field) const {
  if (isMultiline(field) || focused() != &field) return 0;
  Rect inner = fieldTextFrame(field);
  std::string text = fieldText(field);
  Rect c = caretRect(text, field.style, std::nullopt, clampToBoundary(text, caret));
  return std::max(0.0, c.x - inner.width + 2);
}

void Tree::focus(Node* field, std::optional<Point> at) {
  Node* previous = focused();
  if (!field) {
    endEditing();
    return;
  }
  std::string text = fieldText(*field);
  if (at) {
    double shift = previous == field ? fieldShift(*field) : 0;
    Rect inner = fieldTextFrame(*field);
    caret = textIndexAt(text, field->style, wrapWidth(*field, inner),
                        {at->x - inner.x + shift, at->y - inner.y});
    caret = clampToBoundary(text, caret);
  } else {
    caret = text.size();
  }
  focusedField = field->weak_from_this();
  bool was = editing;
  editing = true;
  requestLayout();
  if (!was && textInputChanged) textInputChanged(true);
}

void Tree::endEditing() {
  bool was = editing;
  focusedField.reset();
  caret = 0;
  editing = false;
  if (was) {
    requestLayout();
    if (textInputChanged) textInputChanged(false);
  }
}

// A field that left the screen (its sheet closed, its screen popped) no longer takes typing.
void Tree::dropLostFocus() {
  if (!editing) return;
  auto node = focusedField.lock();
  int top = topLayer();
  bool shown = node && node->attached && node->tree == this &&
               std::any_of(drawn.begin(), drawn.end(),
                           [&](const DrawnItem& d) { return d.node == node && d.layer == top; });
  if (!shown) {
    focusedField.reset();
    caret = 0;
    editing = false;
    if (textInputChanged) textInputChanged(false);
  }
}

bool Tree::insertText(const std::string& typed) {
  Node* field = focused();
  if (!field) return false;
  std::string clean = sanitize(typed, isMultiline(*field));
  if (clean.empty()) return true;
  std::string text = fieldText(*field);
  caret = clampToBoundary(text, caret);
  text.insert(caret, clean);
  caret += clean.size();
  auto keep = field->shared_from_this();
  field->blueprint->textBinding.set(std::move(text));
  requestLayout();
  return true;
}

bool Tree::editKey(EditingKey key) {
  Node* field = focused();
  if (!field) return false;
  auto keep = field->shared_from_this();
  std::string text = fieldText(*field);
  caret = clampToBoundary(text, caret);
  auto write = [&](std::string next) { field->blueprint->textBinding.set(std::move(next)); };
  switch (key) {
    case EditingKey::backspace:
      if (caret > 0) {
        std::size_t from = previousBoundary(text, caret);
        text.erase(from, caret - from);
        caret = from;
        write(std::move(text));
      }
      break;
    case EditingKey::deleteForward:
      if (caret < text.size()) {
        text.erase(caret, nextBoundary(text, caret) - caret);
        write(std::move(text));
      }
      break;
    case EditingKey::left:
      caret = previousBoundary(text, caret);
      break;
    case EditingKey::right:
      caret = nextBoundary(text, caret);
      break;
    case EditingKey::home:
      if (isMultiline(*field)) {
        std::size_t nl = caret == 0 ? std::string::npos : text.rfind('\n', caret - 1);
        caret = nl == std::string::npos ? 0 : nl + 1;
      } else {
        caret = 0;
      }
      break;
    case EditingKey::end:
      if (isMultiline(*field)) {
        std::size_t nl = text.find('\n', caret);
        caret = nl == std::string::npos ? text.size() : nl;
      } else {
        caret = text.size();
      }
      break;
    case EditingKey::enter:
      if (isMultiline(*field)) return insertText("\n");
      endEditing();
      return true;
    case EditingKey::tab: {
      // The next field of the same layer in drawing order, round to the first.
      int top = topLayer();
      std::vector<Node*> fields;
      for (auto& d : drawn) {
        if (d.layer == top && d.node->blueprint->kind == Kind::textField &&
            std::find(fields.begin(), fields.end(), d.node.get()) == fields.end()) {
          fields.push_back(d.node.get());
        }
      }
      auto it = std::find(fields.begin(), fields.end(), field);
      if (it != fields.end() && fields.size() > 1) {
        Node* next = ++it == fields.end() ? fields.front() : *it;
        focus(next, std::nullopt);
      }
      return true;
    }
  }
  requestLayout();
  return true;
}

}  // namespace platform::ui::detail
