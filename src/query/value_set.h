// The elements of an $in or $nin list, for membership tests that do not compare with each one.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// A hash table over a list's elements, by value equality: 1 and 1.0 differ, 0.0 and -0.0 are
// equal. Holds its own copy of the list.
class ValueSet {
 public:
  explicit ValueSet(const Array& elements);

  // Below this many elements, comparing with each is as fast as hashing.
  static bool worthwhile(const Array& elements) noexcept { return elements.size() > 8; }

  bool contains(const Value& value) const noexcept { return contains_value(value); }
  bool contains(PackedValue value) const noexcept { return contains_value(value); }

 private:
  template <class Element>
  bool contains_value(const Element& value) const noexcept;

  Array elements_;
  // Open addressing: each slot is 0 (empty) or an index into elements_ plus one.
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
};

// A hash of `value` (a Value or a PackedValue) consistent with value equality, the same for both
// forms. Inline, as contains() is, since a scan asks once per document.
template <class Element>
inline std::uint64_t value_hash(const Element& value) noexcept {
  // The finaliser of splitmix64: every input bit reaches every output bit.
  auto mix = [](std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
  };
  switch (value.kind()) {
    case Kind::kNull:
      return mix(1);
    case Kind::kBool:
      return mix(value.as_bool() ? 3 : 2);
    case Kind::kNumber: {
      Number number = value.as_number();
      std::uint64_t bits = number.bits();
      if (number.form() == Number::Form::kFloat) {
        // -0.0 == 0.0, so both hash as 0.0.
        double d = number.as_float() + 0.0;
        std::memcpy(&bits, &d, sizeof bits);
      }
      return mix(bits ^ (static_cast<std::uint64_t>(number.form()) << 62));
    }
    case Kind::kString:
      return std::hash<std::string_view>{}(value.as_string());
    case Kind::kArray:
      // Containers are rare in such lists: equal ones have equal sizes, the rest compares.
      return mix(0xA000 + value.as_array().size());
    case Kind::kObject:
      return mix(0xB000 + value.as_object().size());
  }
  return 0;
}

template <class Element>
inline bool ValueSet::contains_value(const Element& value) const noexcept {
  for (std::size_t slot = value_hash(value) & mask_; slots_[slot] != 0; slot = (slot + 1) & mask_) {
    if (elements_[slots_[slot] - 1] == value) return true;
  }
  return false;
}

}  // namespace zarvel
