// Positions of documents in the order of the number each holds at one path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace zarvel {

// The numbers a range admits, compared in double precision as the query operators compare.
struct NumberRange {
  double low = -std::numeric_limits<double>::infinity();
  bool low_inclusive = true;
  double high = std::numeric_limits<double>::infinity();
  bool high_inclusive = true;

  bool contains(double key) const noexcept {
    return (low_inclusive ? key >= low : key > low) && (high_inclusive ? key <= high : key < high);
  }
  // Narrows to the numbers both admit.
  void raise_low(double bound, bool inclusive) noexcept;
  void lower_high(double bound, bool inclusive) noexcept;
};

// (number, position) entries: a sorted run, searched by bisection, and an unsorted tail of recent
// changes that each search also reads, merged into the run once it grows. A changed or
// removed entry of the run is only marked stale until then, so a small update costs no move of
// the run. 12 bytes per entry, and room for an eighth more.
class OrderedIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;
  // Reading this many unsorted entries costs about one merge's worth of a small search.
  static constexpr std::size_t kTailLimit = 4096;

  struct Entry {
    double key;
    std::uint32_t position;
  };
  // Files every entry of `entries` at once, in place of what was filed. Throws std::bad_alloc,
  // and then nothing changed.
  void load(std::vector<Entry> entries);
  // Files `position` under `key`. Unfiles `position`, which must be filed. Both may throw
  // std::bad_alloc, which leaves the index unfit for use.
  void insert(std::uint32_t position, double key);
  void erase(std::uint32_t position);
  // Merges the tail once it has grown past kTailLimit, since count() and collect() read it entry
  // by entry: called by a query about to search rather than by each change. Throws
  // std::bad_alloc, and then nothing changed.
  void trim() {
    if (tail_.size() > kTailLimit) settle();
  }

  // How many entries `range` admits, stale ones counted (an estimate for planning).
  std::size_t count(const NumberRange& range) const noexcept;
  // Appends the positions of the entries `range` admits, in no particular order.
  void collect(const NumberRange& range, std::vector<std::uint32_t>& out) const;

  // Merges the tail and drops stale entries, so that keys() and positions() hold every entry.
  // Throws std::bad_alloc, and then nothing changed.
  void settle();
  // After settle(): every entry, ordered by number and then by position.
  std::span<const double> keys() const noexcept { return keys_; }
  std::span<const std::uint32_t> positions() const noexcept { return positions_; }

  // Renumbers after documents were removed, as HashIndex::remap. Throws std::bad_alloc, and then
  // nothing changed.
  void remap(std::span<const std::uint32_t> new_position);

  std::size_t memory_bytes() const noexcept;

 private:
  bool is_stale(std::uint32_t position) const noexcept {
    return position / 64 < stale_.size() && (stale_[position / 64] >> (position % 64) & 1) != 0;
  }
  // The run's entries that `range` admits, stale ones included: [first, last).
  std::pair<std::size_t, std::size_t> bounds(const NumberRange& range) const noexcept;

  std::vector<double> keys_;
  std::vector<std::uint32_t> positions_;
  std::vector<Entry> tail_;
  std::vector<std::uint64_t> stale_;  // a bit per position whose entry in the run no longer holds
  std::size_t stale_count_ = 0;
};

}  // namespace zarvel
