// Test helper: a collection's documents from, and back to, one array value.
#pragma once

#include "lib/document_list.h"
#include "value/packed.h"

namespace zarvel::testing {

inline PackedBuffer packed(const Value& value) {
  PackedBuffer buffer;
  pack(value, buffer);
  return buffer;
}

inline DocumentList document_list(const Value& array) {
  PackedBuffer packed;
  pack(array, packed);
  DocumentList documents;
  documents.append(PackedValue(packed.data()).as_array());
  return documents;
}

inline Array array_of(const DocumentList& documents) {
  Array array;
  for (PackedValue document : documents.all()) array.push_back(unpack(document));
  return array;
}

}  // namespace zarvel::testing
