// Test helper: the packed form beside the Value, so that one table runs through both forms.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <span>
#include <vector>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel::testing {

// Calls `check(value)`, then `check` of the packed form of `value`.
template <class Check>
void in_both_forms(const Value& value, Check&& check) {
  {
    SCOPED_TRACE("as a Value");
    check(value);
  }
  PackedBuffer buffer;
  pack(value, buffer);
  SCOPED_TRACE("packed");
  check(PackedValue(buffer.data()));
}

// The elements of an array packed back to back, as a collection holds its documents.
class PackedDocuments {
 public:
  explicit PackedDocuments(const Array& documents) {
    std::vector<std::size_t> offsets;
    for (const Value& document : documents) {
      offsets.push_back(buffer_.size());
      pack(document, buffer_);
    }
    // Views are taken once the buffer has stopped growing.
    for (std::size_t offset : offsets) views_.emplace_back(buffer_.data() + offset);
  }
  std::span<const PackedValue> span() const noexcept { return views_; }

 private:
  PackedBuffer buffer_;
  std::vector<PackedValue> views_;
};

}  // namespace zarvel::testing
