// The elements of an $in or $nin list, for membership tests that do not compare with each one.
#pragma once

#include <cstdint>
#include <vector>

#include "value/value.h"

namespace zarvel {

// A hash table over a list's elements, by value equality: 1 and 1.0 differ, 0.0 and -0.0 are
// equal. Holds its own copy of the list.
class ValueSet {
 public:
  explicit ValueSet(const Array& elements);

  // Below this many elements, comparing with each is as fast as hashing.
  static bool worthwhile(const Array& elements) noexcept { return elements.size() > 8; }

  bool contains(const Value& value) const noexcept;

 private:
  Array elements_;
  // Open addressing: each slot is 0 (empty) or an index into elements_ plus one.
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
};

// A hash of `value` consistent with value equality.
std::uint64_t value_hash(const Value& value) noexcept;

}  // namespace zarvel
