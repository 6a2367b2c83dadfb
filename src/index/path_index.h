// One automatic index: the path it serves, the documents it files, and what it knows of the
// values there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/interrupt.h"
#include "index/hash_index.h"
#include "index/ordered_index.h"
#include "value/packed.h"

namespace zarvel {

// A hash index serves equality and $in, an ordered one ranges and sorting.
enum class IndexKind : std::uint8_t { kHash, kOrdered };

using FieldPath = std::vector<std::string>;

// A hash index files every document that holds a value at the path; an ordered one those that
// hold a number there. Both count the documents holding a number and those holding anything
// else, so that a query can tell whether an ordering operator could meet a non-number there.
// Documents that are not objects hold nothing.
class PathIndex {
 public:
  PathIndex(FieldPath path, IndexKind kind);

  // Files every document of `documents`. False when `interrupt` asked for a stop: the index is
  // then incomplete and must be discarded. Throws std::bad_alloc.
  bool build(std::span<const PackedValue> documents, Interrupt& interrupt);
  // Files and unfiles the document at `position`, as it is at the time of the call. They may
  // throw std::bad_alloc, which leaves the index unfit for use.
  void add(std::uint32_t position, PackedValue document);
  void remove(std::uint32_t position, PackedValue document);
  // add() of every document from `first` on, faster.
  void add_from(std::span<const PackedValue> documents, std::size_t first);
  // Before a search: see OrderedIndex::trim.
  void trim();
  // Before the documents are removed: forgets what `document`, one of them, held; then remap.
  void uncount(PackedValue document) noexcept;
  // See HashIndex::remap.
  void remap(std::span<const std::uint32_t> new_position, std::size_t new_size);

  const FieldPath& path() const noexcept { return path_; }
  IndexKind kind() const noexcept { return kind_; }
  // Documents holding a number at the path, and those holding anything else.
  std::size_t numbers() const noexcept { return numbers_; }
  std::size_t others() const noexcept { return others_; }

  // Only the one of its kind is valid.
  const HashIndex& hash() const noexcept { return *std::get_if<HashIndex>(&index_); }
  OrderedIndex& ordered() noexcept { return *std::get_if<OrderedIndex>(&index_); }
  const OrderedIndex& ordered() const noexcept { return *std::get_if<OrderedIndex>(&index_); }

  std::size_t memory_bytes() const noexcept;

  // When a query last used the index, by the collection's clock: the least recent goes first.
  std::uint64_t last_used = 0;

 private:
  // The count a value at the path falls in.
  std::size_t& tally(PackedValue field) noexcept { return field.is_number() ? numbers_ : others_; }

  FieldPath path_;
  IndexKind kind_;
  std::variant<HashIndex, OrderedIndex> index_;
  std::size_t numbers_ = 0;
  std::size_t others_ = 0;
};

}  // namespace zarvel
