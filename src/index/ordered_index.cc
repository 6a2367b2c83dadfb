#include "index/ordered_index.h"

#include <algorithm>
#include <utility>

namespace zarvel {

void NumberRange::raise_low(double bound, bool inclusive) noexcept {
  if (bound > low || (bound == low && !inclusive)) {
    low = bound;
    low_inclusive = inclusive;
  }
}

void NumberRange::lower_high(double bound, bool inclusive) noexcept {
  if (bound < high || (bound == high && !inclusive)) {
    high = bound;
    high_inclusive = inclusive;
  }
}

namespace {

// The order of the run: by number, equal numbers (0.0 and -0.0 among them) by position.
bool before(const OrderedIndex::Entry& a, const OrderedIndex::Entry& b) noexcept {
  return a.key < b.key || (!(b.key < a.key) && a.position < b.position);
}

}  // namespace

void OrderedIndex::load(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), before);
  std::vector<double> keys;
  std::vector<std::uint32_t> positions;
  // Room for a batch of inserts to come, merged in without moving the run.
  keys.reserve(entries.size() + entries.size() / 8);
  positions.reserve(entries.size() + entries.size() / 8);
  for (const Entry& entry : entries) {
    keys.push_back(entry.key);
    positions.push_back(entry.position);
  }
  keys_ = std::move(keys);
  positions_ = std::move(positions);
  tail_.clear();
  stale_.clear();
  stale_count_ = 0;
}

void OrderedIndex::insert(std::uint32_t position, double key) {
  tail_.push_back(Entry{key, position});
}

void OrderedIndex::erase(std::uint32_t position) {
  auto in_tail = std::find_if(tail_.begin(), tail_.end(),
                              [position](const Entry& e) { return e.position == position; });
  if (in_tail != tail_.end()) {
    *in_tail = tail_.back();
    tail_.pop_back();
    return;
  }
  if (is_stale(position)) return;
  std::size_t word = position / 64;
  if (stale_.size() <= word) stale_.resize(word + 1);
  stale_[word] |= std::uint64_t{1} << (position % 64);
  ++stale_count_;
}

std::pair<std::size_t, std::size_t> OrderedIndex::bounds(const NumberRange& range) const noexcept {
  auto first = range.low_inclusive ? std::lower_bound(keys_.begin(), keys_.end(), range.low)
                                   : std::upper_bound(keys_.begin(), keys_.end(), range.low);
  auto last = range.high_inclusive ? std::upper_bound(keys_.begin(), keys_.end(), range.high)
                                   : std::lower_bound(keys_.begin(), keys_.end(), range.high);
  if (last < first) last = first;
  return {static_cast<std::size_t>(first - keys_.begin()),
          static_cast<std::size_t>(last - keys_.begin())};
}

std::size_t OrderedIndex::count(const NumberRange& range) const noexcept {
  auto [first, last] = bounds(range);
  std::size_t n = last - first;
  for (const Entry& entry : tail_) n += range.contains(entry.key) ? 1 : 0;
  return n;
}

void OrderedIndex::collect(const NumberRange& range, std::vector<std::uint32_t>& out) const {
  auto [first, last] = bounds(range);
  for (std::size_t i = first; i < last; ++i) {
    if (stale_count_ == 0 || !is_stale(positions_[i])) out.push_back(positions_[i]);
  }
  for (const Entry& entry : tail_) {
    if (range.contains(entry.key)) out.push_back(entry.position);
  }
}

void OrderedIndex::settle() {
  if (tail_.empty() && stale_count_ == 0) return;
  std::size_t live = keys_.size() - stale_count_;
  std::size_t total = live + tail_.size();
  // The room first, so that a failure changes nothing; grown geometrically, since changes come
  // in batches and fresh memory costs more than the merge.
  if (total > keys_.capacity()) {
    std::size_t room = std::max(total, 2 * keys_.capacity());
    keys_.reserve(room);
    positions_.reserve(room);
  }
  // Nothing below allocates.
  std::sort(tail_.begin(), tail_.end(), before);
  if (stale_count_ != 0) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      if (is_stale(positions_[i])) continue;
      keys_[kept] = keys_[i];
      positions_[kept] = positions_[i];
      ++kept;
    }
    keys_.resize(kept);
    positions_.resize(kept);
    std::fill(stale_.begin(), stale_.end(), 0);
    stale_count_ = 0;
  }
  // The tail merged in from the back, each entry moved once.
  keys_.resize(total);
  positions_.resize(total);
  std::size_t i = live;
  std::size_t j = tail_.size();
  for (std::size_t k = total; j > 0;) {
    --k;
    if (i > 0 && before(tail_[j - 1], Entry{keys_[i - 1], positions_[i - 1]})) {
      --i;
      keys_[k] = keys_[i];
      positions_[k] = positions_[i];
    } else {
      --j;
      keys_[k] = tail_[j].key;
      positions_[k] = tail_[j].position;
    }
  }
  tail_.clear();
  // A large batch's room goes: an index that is only read should not keep it.
  if (tail_.capacity() > 2 * kTailLimit) tail_.shrink_to_fit();
}

void OrderedIndex::remap(std::span<const std::uint32_t> new_position) {
  settle();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    std::uint32_t now = new_position[positions_[i]];
    if (now == kNone) continue;
    keys_[kept] = keys_[i];
    positions_[kept] = now;
    ++kept;
  }
  keys_.resize(kept);
  positions_.resize(kept);
}

std::size_t OrderedIndex::memory_bytes() const noexcept {
  return keys_.capacity() * sizeof(double) + positions_.capacity() * sizeof(std::uint32_t) +
         tail_.capacity() * sizeof(Entry) + stale_.capacity() * sizeof(std::uint64_t);
}

}  // namespace zarvel
