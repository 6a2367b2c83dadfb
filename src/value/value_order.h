// A total order over document values, the one find sorts by.
#pragma once

#include <compare>
#include <cstdint>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// Kinds first: null, numbers, strings, objects, arrays, booleans. Numbers by their exact value, so
// an integer and a float of the same value are equivalent (1 and 1.0), and integers beyond 2**53
// still order against floats exactly; floats are finite. Strings by their UTF-8 bytes; false
// before true. Arrays element by element and objects member by member (key bytes, then value),
// a prefix before its extensions. Weak only because 1 and 1.0 are equivalent and not equal.
std::weak_ordering compare_values(const Value& a, const Value& b) noexcept;
// The same order over packed values, read in place, and between a packed value and a Value.
std::weak_ordering compare_values(PackedValue a, PackedValue b) noexcept;
std::weak_ordering compare_values(PackedValue a, const Value& b) noexcept;

std::weak_ordering compare_numbers(Number a, Number b) noexcept;

// A cheap stand-in for a value when sorting many: the kind's place (from 1, leaving 0 for what
// goes before every value), then a number as the nearest double, the first eight bytes of a
// string, or a boolean. When two prefixes differ the values order as they do; when they are equal
// only compare_values can tell (numbers that round alike, strings that share their start,
// arrays, objects). Rounding to the nearest double never reverses two numbers, so a strict
// difference holds for the exact values too.
struct OrderPrefix {
  std::uint8_t rank = 0;
  std::uint64_t bits = 0;
  friend auto operator<=>(const OrderPrefix&, const OrderPrefix&) = default;
};
OrderPrefix order_prefix(const Value& value) noexcept;
OrderPrefix order_prefix(PackedValue value) noexcept;

}  // namespace zarvel
