#include "query/value_set.h"

#include <bit>

namespace zarvel {

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

}  // namespace zarvel
