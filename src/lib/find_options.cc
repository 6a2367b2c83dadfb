#include "lib/find_options.h"

#include <algorithm>
#include <limits>
#include <type_traits>
#include <utility>

#include "lib/dotted_path.h"
#include "lib/query_scan.h"
#include "value/value_order.h"

namespace zarvel {

namespace {

// What value_at_path finds in a document of either form: `const Value*` or
// `std::optional<PackedValue>`.
template <class Document>
using FoundValue = decltype(value_at_path(std::declval<const Document&>(), {}));

// The sort key of one candidate: its value (empty when missing) with the value's order prefix, so
// that most comparisons read only the table, not the documents scattered in memory.
template <class Document>
struct SortValue {
  FoundValue<Document> value{};
  OrderPrefix prefix;  // rank 0 when missing: before every value
};

template <class Document>
std::weak_ordering compare_sort_values(const SortValue<Document>& a,
                                       const SortValue<Document>& b) noexcept {
  if (std::weak_ordering c = a.prefix <=> b.prefix; c != 0 || !a.value) return c;
  return compare_values(*a.value, *b.value);
}

// The best `bound` candidates offered so far, by the sort keys. Only their keys are kept: the
// memory is O(bound), and once `bound` are held a candidate that cannot enter costs one
// comparison with the worst of them, on top of a heap.
template <class Document>
class BestCandidates {
 public:
  BestCandidates(const std::vector<SortKey>& keys, std::size_t bound)
      : keys_(keys), bound_(bound), values_((bound + 1) * keys.size()), index_(bound + 1) {
    kept_.reserve(bound);
  }

  // `index` numbers the candidates in stored order; it breaks ties.
  void offer(const Document& document, std::uint32_t index) {
    bool full = kept_.size() == bound_;
    auto slot = static_cast<std::uint32_t>(full ? bound_ : kept_.size());  // else the spare
    SortValue<Document>* keys = keys_of(slot);
    for (std::size_t k = 0; k < keys_.size(); ++k) {
      keys[k].value = value_at_path(document, keys_[k].path);
      keys[k].prefix = keys[k].value ? order_prefix(*keys[k].value) : OrderPrefix{};
    }
    index_[slot] = index;
    if (!full) {
      kept_.push_back(slot);
      return;
    }
    auto before = [this](std::uint32_t a, std::uint32_t b) { return this->before(a, b); };
    if (!heap_) {
      std::make_heap(kept_.begin(), kept_.end(), before);
      heap_ = true;
    }
    if (!before(slot, kept_.front())) return;
    // The worst leaves; the spare's keys take its slot.
    std::pop_heap(kept_.begin(), kept_.end(), before);
    std::uint32_t freed = kept_.back();
    std::copy_n(keys, keys_.size(), keys_of(freed));
    index_[freed] = index;
    std::push_heap(kept_.begin(), kept_.end(), before);
  }

  // The indices of the candidates kept, best first.
  std::vector<std::uint32_t> in_order() {
    auto before = [this](std::uint32_t a, std::uint32_t b) { return this->before(a, b); };
    if (heap_) {
      std::sort_heap(kept_.begin(), kept_.end(), before);
    } else {
      std::sort(kept_.begin(), kept_.end(), before);
    }
    std::vector<std::uint32_t> indices;
    indices.reserve(kept_.size());
    for (std::uint32_t slot : kept_) indices.push_back(index_[slot]);
    return indices;
  }

 private:
  SortValue<Document>* keys_of(std::uint32_t slot) { return &values_[slot * keys_.size()]; }
  const SortValue<Document>* keys_of(std::uint32_t slot) const {
    return &values_[slot * keys_.size()];
  }

  bool before(std::uint32_t a, std::uint32_t b) const noexcept {
    const SortValue<Document>* x = keys_of(a);
    const SortValue<Document>* y = keys_of(b);
    for (std::size_t k = 0; k < keys_.size(); ++k) {
      std::weak_ordering c = compare_sort_values(x[k], y[k]);
      if (c != 0) return keys_[k].descending ? c > 0 : c < 0;
    }
    return index_[a] < index_[b];
  }

  const std::vector<SortKey>& keys_;
  std::size_t bound_;
  std::vector<SortValue<Document>> values_;  // the keys of bound_ + 1 slots, the last one spare
  std::vector<std::uint32_t> index_;         // the candidate in each slot
  std::vector<std::uint32_t> kept_;          // slots held; a heap, worst on top, once full
  bool heap_ = false;
};

// `position(i)` is the position of candidate i, for i below `count`, ascending. `Documents` is
// an Array or a span of packed values.
template <typename Documents, typename PositionOf>
std::vector<std::uint32_t> sorted_selection(const Documents& documents, std::size_t count,
                                            PositionOf position, const FindOptions& options) {
  std::size_t end = std::min(options.needed(), count);
  if (options.skip >= end) return {};
  BestCandidates<std::remove_cvref_t<decltype(documents[0])>> best(options.sort, end);
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kPrefetchDistance < count)
      prefetch_document(documents[position(i + kPrefetchDistance)]);
    best.offer(documents[position(i)], static_cast<std::uint32_t>(i));
  }
  std::vector<std::uint32_t> order = best.in_order();
  std::vector<std::uint32_t> positions;
  positions.reserve(end - options.skip);
  for (std::size_t i = options.skip; i < end; ++i) positions.push_back(position(order[i]));
  return positions;
}

template <typename Documents>
std::vector<std::uint32_t> select_in(const Documents& documents,
                                     const std::vector<std::uint32_t>* candidates,
                                     const FindOptions& options) {
  std::size_t count = candidates == nullptr ? documents.size() : candidates->size();
  auto position = [candidates](std::size_t i) {
    return candidates == nullptr ? static_cast<std::uint32_t>(i) : (*candidates)[i];
  };
  if (!options.sort.empty()) return sorted_selection(documents, count, position, options);
  // Stored order: the candidates from skip up to skip + limit.
  std::size_t end = std::min(options.needed(), count);
  std::vector<std::uint32_t> positions;
  for (std::size_t i = options.skip; i < end; ++i) positions.push_back(position(i));
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
  return select_in(documents, candidates, options);
}

std::vector<std::uint32_t> select_positions(std::span<const PackedValue> documents,
                                            const std::vector<std::uint32_t>* candidates,
                                            const FindOptions& options) {
  return select_in(documents, candidates, options);
}

}  // namespace zarvel
