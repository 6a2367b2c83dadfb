#include "query/value_set.h"

#include <bit>
#include <cstring>
#include <functional>
#include <string_view>

namespace zarvel {
namespace {

std::uint64_t mix(std::uint64_t x) noexcept {
  // The finaliser of splitmix64: every input bit reaches every output bit.
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

}  // namespace

std::uint64_t value_hash(const Value& value) noexcept {
  switch (value.kind()) {
    case Kind::kNull:
      return mix(1);
    case Kind::kBool:
      return mix(value.as_bool() ? 3 : 2);
    case Kind::kNumber: {
      Number number = value.as_number();
      std::uint64_t bits;
      if (number.form() == Number::Form::kFloat) {
        // -0.0 == 0.0, so both hash as 0.0.
        double d = number.as_float() + 0.0;
        std::memcpy(&bits, &d, sizeof bits);
      } else {
        bits = number.bits();
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

ValueSet::ValueSet(const Array& elements) : elements_(elements) {
  std::size_t capacity = std::bit_ceil(elements_.size() * 2);
  slots_.assign(capacity, 0);
  mask_ = capacity - 1;
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    const Value& element = elements_[i];
    if (contains(element)) continue;
    std::size_t slot = value_hash(element) & mask_;
    while (slots_[slot] != 0) slot = (slot + 1) & mask_;
    slots_[slot] = static_cast<std::uint32_t>(i + 1);
  }
}

bool ValueSet::contains(const Value& value) const noexcept {
  for (std::size_t slot = value_hash(value) & mask_; slots_[slot] != 0; slot = (slot + 1) & mask_) {
    if (elements_[slots_[slot] - 1] == value) return true;
  }
  return false;
}

}  // namespace zarvel
