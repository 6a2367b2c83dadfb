#include "lib/query_scan.h"

#include "query/matcher.h"

namespace zarvel {

namespace {

// Tests the documents at position_at(0) ... position_at(count - 1), ascending.
template <class PositionAt>
Status scan(const QueryEngine<QueryOperator>& engine, std::span<const PackedValue> documents,
            std::size_t count, PositionAt position_at, std::size_t stop_after,
            std::vector<std::uint32_t>& positions, Interrupt& interrupt) {
  InterruptPoll poll(interrupt);
  std::size_t found = 0;
  for (std::size_t i = 0; i < count && found < stop_after; ++i) {
    if (poll.stop()) return Status::interrupted();
    if (i + kPrefetchDistance < count)
      prefetch_document(documents[position_at(i + kPrefetchDistance)]);
    std::uint32_t position = position_at(i);
    PackedValue document = documents[position];
    if (!document.is_object()) continue;
    Result<bool> matched = matches(engine, document.as_object());
    if (!matched.ok()) return std::move(matched).status();
    if (matched.value()) {
      positions.push_back(position);
      ++found;
    }
  }
  return Status();
}

}  // namespace

Status scan_matches(const QueryEngine<QueryOperator>& engine,
                    std::span<const PackedValue> documents, std::size_t stop_after,
                    std::vector<std::uint32_t>& positions, Interrupt& interrupt) {
  auto every = [](std::size_t i) { return static_cast<std::uint32_t>(i); };
  return scan(engine, documents, documents.size(), every, stop_after, positions, interrupt);
}

Status scan_candidates(const QueryEngine<QueryOperator>& engine,
                       std::span<const PackedValue> documents,
                       std::span<const std::uint32_t> candidates, std::size_t stop_after,
                       std::vector<std::uint32_t>& positions, Interrupt& interrupt) {
  auto listed = [candidates](std::size_t i) { return candidates[i]; };
  return scan(engine, documents, candidates.size(), listed, stop_after, positions, interrupt);
}

}  // namespace zarvel
