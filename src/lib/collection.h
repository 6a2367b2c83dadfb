// A collection: the documents held under one name.
#pragma once

#include <cstdint>
#include <memory>

#include "index/collection_indexes.h"
#include "lib/document_list.h"

namespace zarvel {

// The documents of one collection, in insertion order. Shared: the registry holds one reference
// and a running operation or a cached answer may hold another, so a collection dropped meanwhile
// lives on until then. Calls run one at a time under the store's borrow, so no lock guards it.
struct Collection {
  DocumentList documents;
  // Told of every change to `documents`, so that they always describe them.
  CollectionIndexes indexes;
  // Counts the changes to `documents`. Cached answers name documents by position, so an answer
  // taken at another version must not be used.
  std::uint64_t version = 0;
  // The version the collection's file holds, as far as this store knows: the one it was loaded
  // or created at, or last written.
  std::uint64_t written_version = 0;

  bool changed_since_written() const noexcept { return version != written_version; }
};
using SharedCollection = std::shared_ptr<Collection>;

}  // namespace zarvel
