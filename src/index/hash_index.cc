#include "index/hash_index.h"

#include <algorithm>
#include <bit>

namespace zarvel {

namespace {

// Slots are grown past four in five used, as linear probing slows sharply beyond that.
bool over_load(std::size_t used, std::size_t capacity) noexcept { return used * 5 > capacity * 4; }

constexpr std::size_t kFirstCapacity = 16;

// The capacity that keeps `groups` under the load bound.
std::size_t capacity_for(std::size_t groups) {
  return std::max(kFirstCapacity, std::bit_ceil(groups * 5 / 4 + 1));
}

}  // namespace

const HashIndex::Slot* HashIndex::find(std::uint32_t hash) const noexcept {
  if (slots_.empty()) return nullptr;
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask; slots_[i].head != kNone; i = (i + 1) & mask) {
    if (slots_[i].hash == hash) return &slots_[i];
  }
  return nullptr;
}

HashIndex::Slot& HashIndex::slot_for(std::uint32_t hash) {
  if (const Slot* found = find(hash)) return const_cast<Slot&>(*found);
  // Sized for the live groups alone: vacant slots are left behind.
  if (over_load(occupied_ + 1, slots_.size())) rehash(capacity_for(live_ + 1));
  std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].head != kNone) i = (i + 1) & mask;
  slots_[i] = Slot{hash, kVacant};
  ++occupied_;
  return slots_[i];
}

void HashIndex::rehash(std::size_t capacity) {
  std::vector<Slot> slots(capacity);
  std::size_t mask = capacity - 1;
  for (const Slot& slot : slots_) {
    if (slot.head >= kVacant) continue;
    std::size_t i = slot.hash & mask;
    while (slots[i].head != kNone) i = (i + 1) & mask;
    slots[i] = slot;
  }
  slots_ = std::move(slots);
  occupied_ = live_;
}

void HashIndex::reserve(std::size_t size) {
  // With room for a batch of inserts to come.
  next_.reserve(size + size / 8);
  if (capacity_for(size) > slots_.size()) rehash(capacity_for(size));
}

void HashIndex::shrink_to_fit() {
  if (capacity_for(live_) < slots_.size()) rehash(capacity_for(live_));
}

void HashIndex::insert(std::uint32_t position, std::uint64_t hash) {
  // Grown first: what can fail then happens before the first change.
  if (next_.size() <= position) next_.resize(std::size_t{position} + 1, kNone);
  Slot& slot = slot_for(static_cast<std::uint32_t>(hash));
  if (slot.head == kVacant) {
    ++live_;
    next_[position] = kNone;
    slot.head = position;
    return;
  }
  if (position > slot.head) {
    next_[position] = slot.head;
    slot.head = position;
    return;
  }
  std::uint32_t at = slot.head;
  while (next_[at] != kNone && next_[at] > position) at = next_[at];
  if (at == position || next_[at] == position) return;  // filed already
  next_[position] = next_[at];
  next_[at] = position;
}

void HashIndex::erase(std::uint32_t position, std::uint64_t hash) noexcept {
  const Slot* found = find(static_cast<std::uint32_t>(hash));
  if (found == nullptr || found->head >= kVacant) return;
  Slot& slot = const_cast<Slot&>(*found);
  if (slot.head == position) {
    slot.head = next_[position];
    if (slot.head == kNone) {
      slot.head = kVacant;
      --live_;
    }
    return;
  }
  std::uint32_t at = slot.head;
  while (next_[at] != kNone && next_[at] > position) at = next_[at];
  if (next_[at] == position) next_[at] = next_[position];
}

std::size_t HashIndex::count(std::uint64_t hash, std::size_t limit) const noexcept {
  const Slot* slot = find(static_cast<std::uint32_t>(hash));
  if (slot == nullptr || slot->head >= kVacant) return 0;
  std::size_t n = 0;
  for (std::uint32_t at = slot->head; at != kNone && n < limit; at = next_[at]) ++n;
  return n;
}

void HashIndex::collect(std::uint64_t hash, std::vector<std::uint32_t>& out) const {
  const Slot* slot = find(static_cast<std::uint32_t>(hash));
  if (slot == nullptr || slot->head >= kVacant) return;
  std::size_t first = out.size();
  for (std::uint32_t at = slot->head; at != kNone; at = next_[at]) out.push_back(at);
  std::reverse(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
}

void HashIndex::remap(std::span<const std::uint32_t> new_position, std::size_t new_size) {
  std::vector<std::uint32_t> next(new_size, kNone);
  // Nothing below allocates. Renumbering keeps order, so each chain stays descending.
  for (Slot& slot : slots_) {
    if (slot.head >= kVacant) continue;
    std::uint32_t head = kNone;
    std::uint32_t last = kNone;
    for (std::uint32_t at = slot.head; at != kNone; at = next_[at]) {
      std::uint32_t now = new_position[at];
      if (now == kNone) continue;
      if (last == kNone) {
        head = now;
      } else {
        next[last] = now;
      }
      last = now;
    }
    if (head == kNone) {
      slot.head = kVacant;
      --live_;
    } else {
      slot.head = head;
    }
  }
  next_ = std::move(next);
}

std::size_t HashIndex::memory_bytes() const noexcept {
  return slots_.capacity() * sizeof(Slot) + next_.capacity() * sizeof(std::uint32_t);
}

}  // namespace zarvel
