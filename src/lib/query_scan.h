// One pass of a query over the documents of a collection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "base/interrupt.h"
#include "base/status.h"
#include "query/query_engine.h"
#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// A pass that asks for the document a few places ahead hides most of the wait for each, where
// the hardware's own prefetching does not already.
inline constexpr std::size_t kPrefetchDistance = 8;

inline void prefetch_document(const Value& document) noexcept {
  if (document.is_object()) document.as_object().prefetch();
}
inline void prefetch_document(PackedValue document) noexcept {
  __builtin_prefetch(document.data());
}

template <class Documents>
inline void prefetch_ahead(const Documents& documents, std::size_t index) noexcept {
  if (index + kPrefetchDistance < documents.size()) {
    prefetch_document(documents[index + kPrefetchDistance]);
  }
}

inline constexpr std::size_t kNoStop = std::numeric_limits<std::size_t>::max();

// Appends to `positions` the positions of the documents that match `engine`, in stored order,
// stopping once `stop_after` are found (before testing any document when it is 0). A document
// that is not an object (only a file written elsewhere holds one) matches nothing. The first
// evaluation error is returned, and `positions` then holds what was found before it; so is
// kInterrupted when `interrupt` asks for a stop.
Status scan_matches(const QueryEngine<QueryOperator>& engine,
                    std::span<const PackedValue> documents, std::size_t stop_after,
                    std::vector<std::uint32_t>& positions,
                    Interrupt& interrupt = never_interrupted());
// The same over the documents at `candidates` (ascending) alone: the answer when every other
// document is known not to match, and known not to stop the scan with an error.
Status scan_candidates(const QueryEngine<QueryOperator>& engine,
                       std::span<const PackedValue> documents,
                       std::span<const std::uint32_t> candidates, std::size_t stop_after,
                       std::vector<std::uint32_t>& positions,
                       Interrupt& interrupt = never_interrupted());

}  // namespace zarvel
