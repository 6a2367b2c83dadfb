#include "lib/find_options.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "lib/dotted_path.h"
#include "value/value_order.h"

namespace zarvel {

namespace {

// A missing value orders before every value.
std::weak_ordering compare_present(const Value* a, const Value* b) noexcept {
  if (a == nullptr || b == nullptr) return (a != nullptr) <=> (b != nullptr);
  return compare_values(*a, *b);
}

// The sort keys of every candidate, resolved once: a comparison then only compares values.
class SortTable {
 public:
  SortTable(const Array& documents, std::span<const std::uint32_t> candidates,
            const std::vector<SortKey>& keys)
      : keys_(keys), values_(candidates.size() * keys.size()) {
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const Value& document = documents[candidates[i]];
      for (std::size_t k = 0; k < keys.size(); ++k) {
        values_[i * keys.size() + k] = value_at_path(document, keys[k].path);
      }
    }
  }

  // Whether candidate `a` comes before candidate `b`; candidates ascend, so the index breaks ties
  // in stored order.
  bool before(std::uint32_t a, std::uint32_t b) const noexcept {
    const Value* const* x = &values_[a * keys_.size()];
    const Value* const* y = &values_[b * keys_.size()];
    for (std::size_t k = 0; k < keys_.size(); ++k) {
      std::weak_ordering c = compare_present(x[k], y[k]);
      if (c != 0) return keys_[k].descending ? c > 0 : c < 0;
    }
    return a < b;
  }

 private:
  const std::vector<SortKey>& keys_;
  std::vector<const Value*> values_;
};

std::vector<std::uint32_t> sorted_selection(const Array& documents,
                                            std::span<const std::uint32_t> candidates,
                                            const FindOptions& options) {
  std::size_t count = candidates.size();
  std::size_t end = std::min(options.needed(), count);
  if (options.skip >= end) return {};
  SortTable table(documents, candidates, options.sort);
  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), std::uint32_t{0});
  auto before = [&table](std::uint32_t a, std::uint32_t b) { return table.before(a, b); };
  // Only the first `end` are wanted: a bounded selection, not a full sort, when that is fewer.
  if (end < count) {
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(end), order.end(),
                      before);
  } else {
    std::sort(order.begin(), order.end(), before);
  }
  std::vector<std::uint32_t> positions;
  positions.reserve(end - options.skip);
  for (std::size_t i = options.skip; i < end; ++i) positions.push_back(candidates[order[i]]);
  return positions;
}

}  // namespace

std::size_t FindOptions::needed() const noexcept {
  constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
  if (!limit) return kAll;
  return *limit > kAll - skip ? kAll : skip + *limit;
}

std::vector<std::uint32_t> select_positions(const Array& documents,
                                            const std::vector<std::uint32_t>* candidates,
                                            const FindOptions& options) {
  std::vector<std::uint32_t> every;
  if (candidates == nullptr && !options.sort.empty()) {
    every.resize(documents.size());
    std::iota(every.begin(), every.end(), std::uint32_t{0});
    candidates = &every;
  }
  if (!options.sort.empty()) return sorted_selection(documents, *candidates, options);
  // Stored order: the candidates from skip up to skip + limit.
  std::size_t count = candidates == nullptr ? documents.size() : candidates->size();
  std::size_t end = std::min(options.needed(), count);
  std::vector<std::uint32_t> positions;
  for (std::size_t i = options.skip; i < end; ++i) {
    positions.push_back(candidates == nullptr ? static_cast<std::uint32_t>(i) : (*candidates)[i]);
  }
  return positions;
}

}  // namespace zarvel
