// Positions of documents filed by a hash of the value each holds at one path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zarvel {

// A table from a 32-bit hash to the positions filed under it. It keeps no values: two values
// whose hashes agree share a group, which only adds candidates that the query's own test then
// turns away. A group is a chain through `next_`, indexed by position, from the largest position
// down, so that appending the newest document costs one link and the table holds 8 bytes per
// distinct hash: about 4 + 8 / 0.4..0.8 bytes per document when every value differs.
class HashIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  // Room for `size` positions, each with a hash of its own, without growing: a build reserves
  // for every document, then shrink_to_fit() sizes the table for the hashes it met.
  void reserve(std::size_t size);
  void shrink_to_fit();
  // Files `position` under `hash`. Cheapest when `position` is above every position filed.
  // Throws std::bad_alloc, and then nothing changed.
  void insert(std::uint32_t position, std::uint64_t hash);
  // Asks for the slot of `hash` ahead of an insert, so that filing many documents overlaps the
  // waits for their slots.
  void prefetch(std::uint64_t hash) const noexcept {
    if (!slots_.empty())
      __builtin_prefetch(&slots_[static_cast<std::uint32_t>(hash) & (slots_.size() - 1)]);
  }
  // Unfiles `position` from `hash`'s group; nothing when it is not there.
  void erase(std::uint32_t position, std::uint64_t hash) noexcept;

  // How many positions are filed under `hash`, counting no further than `limit`.
  std::size_t count(std::uint64_t hash, std::size_t limit) const noexcept;
  // Appends the positions filed under `hash`, ascending.
  void collect(std::uint64_t hash, std::vector<std::uint32_t>& out) const;

  // Renumbers after documents were removed: `new_position[p]` is the new position of old
  // position p, or kNone for a removed one; it must cover every filed position, and keep order.
  // Throws std::bad_alloc, and then nothing changed.
  void remap(std::span<const std::uint32_t> new_position, std::size_t new_size);

  std::size_t memory_bytes() const noexcept;

 private:
  // A slot whose group emptied keeps its hash, so that probes for later hashes still pass it.
  static constexpr std::uint32_t kVacant = 0xFFFFFFFE;
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t head = kNone;  // kNone: never used; kVacant: emptied
  };

  // The slot of `hash`, live or vacant; null when it has none.
  const Slot* find(std::uint32_t hash) const noexcept;
  Slot& slot_for(std::uint32_t hash);
  void rehash(std::size_t capacity);

  std::vector<Slot> slots_;  // a power of two in size, or empty
  std::vector<std::uint32_t> next_;
  std::size_t occupied_ = 0;  // slots live or vacant
  std::size_t live_ = 0;      // slots with a group
};

}  // namespace zarvel
