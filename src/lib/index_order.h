// Sorting by one key read from an ordered index instead of from the documents.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "index/ordered_index.h"
#include "lib/find_options.h"
#include "value/packed.h"

namespace zarvel {

// What select_positions gives for `options` with a single sort key, read from `index`: the
// settled ordered index of that key's path, which files every document of `documents`. Walks the
// index only as far as skip + limit of the candidates.
std::vector<std::uint32_t> select_in_index_order(const OrderedIndex& index,
                                                 std::span<const PackedValue> documents,
                                                 const std::vector<std::uint32_t>* candidates,
                                                 const FindOptions& options);

}  // namespace zarvel
