// TEMPORARY: Value-based stand-ins for the packed paths being built; removed when they land.
#pragma once

#include <vector>

#include "value/packed.h"

namespace zarvel {

inline std::vector<Value> unpack_all(std::span<const PackedValue> documents) {
  std::vector<Value> values;
  values.reserve(documents.size());
  for (PackedValue document : documents) values.push_back(unpack(document));
  return values;
}

inline Array unpack_array(std::span<const PackedValue> documents) {
  return Array(unpack_all(documents));
}

inline PackedBuffer packed_copy(const Value& value) {
  PackedBuffer buffer;
  pack(value, buffer);
  return buffer;
}

}  // namespace zarvel
