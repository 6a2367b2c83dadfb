// How much memory a value holds.
#pragma once

#include <cstddef>

#include "value/value.h"

namespace zarvel {

// The bytes `value` holds on the heap beyond its own 16: blocks of arrays and objects at their
// capacity, long strings and long keys, each with the allocator's usual 16-byte overhead. An
// estimate for bounding caches, not an exact count.
std::size_t heap_size(const Value& value) noexcept;
std::size_t heap_size(const Object& object) noexcept;

}  // namespace zarvel
