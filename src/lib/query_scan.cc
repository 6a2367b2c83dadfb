#include "lib/query_scan.h"

#include "query/matcher.h"

namespace zarvel {

Status scan_matches(const QueryEngine<QueryOperator>& engine,
                    std::span<const PackedValue> documents, std::size_t stop_after,
                    std::vector<std::uint32_t>& positions, Interrupt& interrupt) {
  InterruptPoll poll(interrupt);
  std::size_t found = 0;
  for (std::size_t i = 0; i < documents.size() && found < stop_after; ++i) {
    if (poll.stop()) return Status::interrupted();
    prefetch_ahead(documents, i);
    PackedValue document = documents[i];
    if (!document.is_object()) continue;
    Result<bool> matched = matches(engine, document.as_object());
    if (!matched.ok()) return std::move(matched).status();
    if (matched.value()) {
      positions.push_back(static_cast<std::uint32_t>(i));
      ++found;
    }
  }
  return Status();
}

}  // namespace zarvel
