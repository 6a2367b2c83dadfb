#include "lib/index_order.h"

#include <algorithm>
#include <cmath>

#include "lib/dotted_path.h"
#include "value/value_order.h"

namespace zarvel {

namespace {

// Below this magnitude every integer is a double of its own, so equal keys are equal numbers.
constexpr double kExactIntegers = 9007199254740992.0;  // 2**53

// The candidates as a bit per position; empty for every document.
std::vector<std::uint64_t> membership(const std::vector<std::uint32_t>* candidates,
                                      std::size_t documents) {
  std::vector<std::uint64_t> bits;
  if (candidates == nullptr) return bits;
  bits.assign((documents + 63) / 64, 0);
  for (std::uint32_t position : *candidates)
    bits[position / 64] |= std::uint64_t{1} << (position % 64);
  return bits;
}

}  // namespace

std::vector<std::uint32_t> select_in_index_order(const OrderedIndex& index,
                                                 std::span<const PackedValue> documents,
                                                 const std::vector<std::uint32_t>* candidates,
                                                 const FindOptions& options) {
  const SortKey& key = options.sort.front();
  std::span<const double> keys = index.keys();
  std::span<const std::uint32_t> positions = index.positions();
  std::size_t available = candidates == nullptr ? documents.size() : candidates->size();
  std::size_t needed = std::min(options.needed(), available);
  std::vector<std::uint64_t> member = membership(candidates, documents.size());
  std::vector<std::uint32_t> picked;
  picked.reserve(needed);
  std::vector<std::uint32_t> run;
  // Every document holds a number at the path, since the index files every one.
  auto number_at = [&](std::uint32_t position) {
    std::optional<PackedValue> field = value_at_path(documents[position], key.path);
    return field ? field->as_number() : Number::from_unsigned(0);
  };
  // Entries of one key order by position, which is stored order, as ties must in both
  // directions. Keys this large may stand for several integers: those are put in exact order.
  auto take = [&](std::size_t first, std::size_t last) {
    std::span<const std::uint32_t> order = positions.subspan(first, last - first);
    if (order.size() > 1 && std::fabs(keys[first]) >= kExactIntegers) {
      run.assign(order.begin(), order.end());
      std::stable_sort(run.begin(), run.end(), [&](std::uint32_t a, std::uint32_t b) {
        std::weak_ordering c = compare_numbers(number_at(a), number_at(b));
        return key.descending ? c > 0 : c < 0;
      });
      order = run;
    }
    for (std::uint32_t position : order) {
      if (!member.empty() && (member[position / 64] >> (position % 64) & 1) == 0) continue;
      picked.push_back(position);
      if (picked.size() == needed) return true;
    }
    return false;
  };
  if (needed > 0) {
    if (!key.descending) {
      for (std::size_t i = 0, j = 0; i < keys.size(); i = j) {
        for (j = i + 1; j < keys.size() && keys[j] == keys[i];) ++j;
        if (take(i, j)) break;
      }
    } else {
      for (std::size_t j = keys.size(), i = j; j > 0; j = i) {
        for (i = j - 1; i > 0 && keys[i - 1] == keys[j - 1];) --i;
        if (take(i, j)) break;
      }
    }
  }
  std::size_t skipped = std::min(options.skip, picked.size());
  picked.erase(picked.begin(), picked.begin() + static_cast<std::ptrdiff_t>(skipped));
  return picked;
}

}  // namespace zarvel
