// Resolving a condition's field path inside a document, shared by matching and updating.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// The object that should hold the last segment of `fields`: the document itself for a one-segment
// path, else the object reached by looking up every segment but the last. Null when one of those
// is absent or is not an object (arrays are never entered). `ObjectT` is Object or const Object;
// the pointer lives until the document is next changed. Null for an empty path. Inlined into
// every caller: it runs once per condition and document, where a call is a measurable cost.
template <class ObjectT>
[[gnu::always_inline]] inline ObjectT* field_parent(
    ObjectT& document, const std::vector<std::string>& fields) noexcept {
  static_assert(std::is_same_v<std::remove_const_t<ObjectT>, Object>);
  if (fields.empty()) return nullptr;
  ObjectT* current = &document;
  for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
    auto* value = current->find(fields[i]);
    if (value == nullptr || !value->is_object()) return nullptr;
    current = &value->as_object();
  }
  return current;
}

// The value at `fields` inside the packed `document`, if it has one: every segment but the last
// must name an object. Empty for an empty path.
[[gnu::always_inline]] inline std::optional<PackedValue> packed_field(
    PackedObject document, const std::vector<std::string>& fields) noexcept {
  if (fields.empty()) return std::nullopt;
  for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
    std::optional<PackedValue> value = document.find(fields[i]);
    if (!value || !value->is_object()) return std::nullopt;
    document = value->as_object();
  }
  return document.find(fields.back());
}

}  // namespace zarvel
