// A total order over document values, the one find sorts by.
#pragma once

#include <compare>

#include "value/value.h"

namespace zarvel {

// Kinds first: null, numbers, strings, objects, arrays, booleans. Numbers by their exact value, so
// an integer and a float of the same value are equivalent (1 and 1.0), and integers beyond 2**53
// still order against floats exactly; floats are finite. Strings by their UTF-8 bytes; false
// before true. Arrays element by element and objects member by member (key bytes, then value),
// a prefix before its extensions. Weak only because 1 and 1.0 are equivalent and not equal.
std::weak_ordering compare_values(const Value& a, const Value& b) noexcept;

std::weak_ordering compare_numbers(Number a, Number b) noexcept;

}  // namespace zarvel
