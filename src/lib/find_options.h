// The options of find that pick, order and cut down the documents it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "lib/projection.h"
#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

struct SortKey {
  std::vector<std::string> path;  // segments of a dotted path
  bool descending = false;
};

struct FindOptions {
  std::vector<SortKey> sort;  // applied in order; empty for stored order
  std::size_t skip = 0;
  std::optional<std::size_t> limit;
  std::optional<Projection> fields;

  // Whether sort, skip or limit decide which documents come back, or in what order.
  bool selects() const noexcept { return !sort.empty() || skip > 0 || limit.has_value(); }
  // How many of the candidates, in their final order, must be known: skip + limit, saturating;
  // SIZE_MAX without a limit.
  std::size_t needed() const noexcept;
};

// The positions (into `documents`) to return, in order: the candidates, which ascend, sorted by
// `options.sort`, then `options.skip` of them passed over and at most `options.limit` kept. Null
// `candidates` stands for every document. Sorting follows compare_values on the value at each
// key's path, a missing value (or a document that is not an object) first; descending keys
// reverse that, and ties keep stored order in both directions. With a limit only the first
// skip + limit are put in order.
std::vector<std::uint32_t> select_positions(const Array& documents,
                                            const std::vector<std::uint32_t>* candidates,
                                            const FindOptions& options);
// The same over packed documents, whose bytes must stay unchanged until it returns.
std::vector<std::uint32_t> select_positions(std::span<const PackedValue> documents,
                                            const std::vector<std::uint32_t>* candidates,
                                            const FindOptions& options);

}  // namespace zarvel
