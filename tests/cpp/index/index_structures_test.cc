// The two index structures against plain reference models, through random filing, unfiling and
// renumbering.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "index/hash_index.h"
#include "index/ordered_index.h"

namespace zarvel {
namespace {

// Positions as a removal renumbers them: kNone for those removed, the rest closing up.
std::vector<std::uint32_t> renumbering(std::size_t size, const std::set<std::uint32_t>& removed,
                                       std::uint32_t none) {
  std::vector<std::uint32_t> new_position(size);
  std::uint32_t next = 0;
  for (std::uint32_t p = 0; p < size; ++p) new_position[p] = removed.count(p) ? none : next++;
  return new_position;
}

TEST(HashIndexTest, FilesAsAMapOfSetsDoes) {
  std::mt19937 rng(7);
  auto below = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng);
  };
  HashIndex index;
  // The hash each position is filed under; few hashes, so that groups grow long, and hashes
  // that differ only above the low 32 bits, which the index treats as one.
  std::map<std::uint32_t, std::uint64_t> model;
  std::uint32_t size = 0;
  auto hash_of = [&] { return std::uint64_t{below(4)} << 32 | below(40); };
  for (int step = 0; step < 20000; ++step) {
    std::uint32_t what = below(10);
    if (what < 5 || model.empty()) {
      // Appended, or refiled anywhere below.
      std::uint32_t position = what < 3 || size == 0 ? size++ : below(size);
      if (model.count(position)) continue;
      std::uint64_t hash = hash_of();
      index.insert(position, hash);
      model[position] = hash;
    } else if (what < 9) {
      auto it = std::next(model.begin(), below(static_cast<std::uint32_t>(model.size())));
      index.erase(it->first, it->second);
      model.erase(it);
    } else {
      std::set<std::uint32_t> removed;
      for (int i = 0; i < 5; ++i) removed.insert(below(size));
      std::vector<std::uint32_t> new_position = renumbering(size, removed, HashIndex::kNone);
      index.remap(new_position, size - removed.size());
      std::map<std::uint32_t, std::uint64_t> renumbered;
      for (auto [position, hash] : model) {
        if (!removed.count(position)) renumbered[new_position[position]] = hash;
      }
      model = std::move(renumbered);
      size -= static_cast<std::uint32_t>(removed.size());
    }
    std::uint64_t probe = hash_of();
    std::vector<std::uint32_t> expected;
    for (auto [position, hash] : model) {
      if (static_cast<std::uint32_t>(hash) == static_cast<std::uint32_t>(probe))
        expected.push_back(position);
    }
    std::vector<std::uint32_t> found;
    index.collect(probe, found);
    ASSERT_EQ(found, expected) << "step " << step;
    ASSERT_EQ(index.count(probe, 3), std::min<std::size_t>(expected.size(), 3));
  }
}

TEST(OrderedIndexTest, FilesAsASortedListDoes) {
  std::mt19937 rng(11);
  auto below = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng);
  };
  const double keys[] = {-1.5, -0.0, 0.0, 1.0, 2.0, 2.5, 9007199254740992.0, 1e300};
  auto key = [&] { return keys[below(std::size(keys))]; };
  OrderedIndex index;
  std::map<std::uint32_t, double> model;
  std::uint32_t size = 0;
  // Many more changes than the tail holds, so that merges happen between checks.
  for (int step = 0; step < 30000; ++step) {
    std::uint32_t what = below(20);
    if (what < 10 || model.empty()) {
      std::uint32_t position = what < 6 || size == 0 ? size++ : below(size);
      if (model.count(position)) continue;
      double k = key();
      index.insert(position, k);
      index.trim();
      model[position] = k;
    } else if (what < 18) {
      auto it = std::next(model.begin(), below(static_cast<std::uint32_t>(model.size())));
      index.erase(it->first);
      model.erase(it);
    } else if (what == 18) {
      std::set<std::uint32_t> removed;
      for (int i = 0; i < 3; ++i) removed.insert(below(size));
      std::vector<std::uint32_t> new_position = renumbering(size, removed, OrderedIndex::kNone);
      index.remap(new_position);
      std::map<std::uint32_t, double> renumbered;
      for (auto [position, k] : model) {
        if (!removed.count(position)) renumbered[new_position[position]] = k;
      }
      model = std::move(renumbered);
      size -= static_cast<std::uint32_t>(removed.size());
    } else {
      index.settle();
      std::vector<std::pair<double, std::uint32_t>> expected;
      expected.reserve(model.size());
      for (auto [position, k] : model) expected.emplace_back(k, position);
      std::stable_sort(expected.begin(), expected.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      ASSERT_EQ(index.keys().size(), expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(index.positions()[i], expected[i].second) << "step " << step << " entry " << i;
        ASSERT_EQ(index.keys()[i], expected[i].first);
      }
    }
    NumberRange range;
    range.raise_low(key(), below(2) == 0);
    range.lower_high(key(), below(2) == 0);
    std::vector<std::uint32_t> expected;
    for (auto [position, k] : model) {
      if (range.contains(k)) expected.push_back(position);
    }
    std::vector<std::uint32_t> found;
    index.collect(range, found);
    std::sort(found.begin(), found.end());
    ASSERT_EQ(found, expected) << "step " << step;
  }
}

TEST(NumberRangeTest, KeepsTheNarrowerBound) {
  NumberRange range;
  range.raise_low(1, true);
  range.raise_low(1, false);  // same bound, stricter
  range.raise_low(0, true);   // looser: ignored
  range.lower_high(5, false);
  range.lower_high(5, true);  // looser: ignored
  for (auto [key, inside] : {std::pair{1.0, false}, {1.5, true}, {4.9, true}, {5.0, false}}) {
    EXPECT_EQ(range.contains(key), inside) << key;
  }
  // -0.0 and 0.0 are one number to a range, as to the query operators.
  NumberRange zero;
  zero.raise_low(0.0, true);
  zero.lower_high(-0.0, true);
  EXPECT_TRUE(zero.contains(-0.0));
  EXPECT_TRUE(zero.contains(0.0));
}

}  // namespace
}  // namespace zarvel
