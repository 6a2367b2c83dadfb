#include "lib/projection.h"

#include <algorithm>
#include <utility>

#include "lib/dotted_path.h"

namespace zarvel {

Projection::Projection(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::vector<Node>* level = &roots_;
    Node* node = nullptr;
    for (std::string& segment : split_dotted_path(path)) {
      auto found = std::find_if(level->begin(), level->end(),
                                [&](const Node& n) { return n.key == segment; });
      if (found == level->end()) {
        level->push_back(Node{std::move(segment), false, {}});
        found = std::prev(level->end());
      }
      node = &*found;
      if (node->whole) break;  // kept whole already: a deeper path adds nothing
      level = &node->children;
    }
    node->whole = true;
    node->children.clear();
  }
}

namespace {

Value copy_of(const Value& value) { return value; }
Value copy_of(PackedValue value) { return unpack(value); }

}  // namespace

template <class Document>
Value Projection::apply_to(const Document& document, const std::vector<Node>& roots) {
  if (!document.is_object()) return copy_of(document);
  return Value(project(document.as_object(), roots));
}

// `object` is an Object or a PackedObject; `find` gives a pointer or an optional, read alike.
template <class ObjectView>
Object Projection::project(const ObjectView& object, const std::vector<Node>& children) {
  std::vector<Object::Member> kept;
  for (const Node& child : children) {
    auto value = object.find(child.key);
    if (!value) continue;
    if (child.whole) {
      kept.push_back({Key(child.key), copy_of(*value)});
    } else if (value->is_object()) {
      Object inner = project(value->as_object(), child.children);
      if (!inner.empty()) kept.push_back({Key(child.key), Value(std::move(inner))});
    }
  }
  return Object::from_members(std::move(kept));
}

Value Projection::apply(const Value& document) const { return apply_to(document, roots_); }

Value Projection::apply(PackedValue document) const { return apply_to(document, roots_); }

}  // namespace zarvel
