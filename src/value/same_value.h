// Value equality, one body for every pairing of the two forms of a value (Value, PackedValue).
#pragma once

#include <string_view>

#include "value/value.h"

namespace zarvel {

// Value equality across both forms: 1 and 1.0 differ, 0.0 and -0.0 are equal; objects hold their
// members in the same key order in both, so they compare pairwise.
template <class A, class B>
inline bool same_value(const A& a, const B& b) noexcept {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::kNull:
      return true;
    case Kind::kBool:
      return a.as_bool() == b.as_bool();
    case Kind::kNumber:
      return a.as_number() == b.as_number();
    case Kind::kString:
      return a.as_string() == b.as_string();
    case Kind::kArray: {
      auto x = a.as_array();
      auto y = b.as_array();
      if (x.size() != y.size()) return false;
      auto it = y.begin();
      for (auto&& element : x) {
        if (!same_value(element, *it)) return false;
        ++it;
      }
      return true;
    }
    case Kind::kObject:
      break;
  }
  auto x = a.as_object();
  auto y = b.as_object();
  if (x.size() != y.size()) return false;
  auto it = y.begin();
  for (auto&& member : x) {
    auto&& other = *it;
    if (std::string_view(member.key) != std::string_view(other.key) ||
        !same_value(member.value, other.value)) {
      return false;
    }
    ++it;
  }
  return true;
}

}  // namespace zarvel
