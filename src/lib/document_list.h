// The documents of one collection, packed back to back in insertion order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "value/packed.h"

namespace zarvel {

// Documents live in a few large chunks, each written once front to back and never moved while
// it is in use; a slot per document points at its packed bytes, in insertion order. A scan, a
// conversion or a write thus walks memory in order. Removing or replacing a document leaves its
// old bytes behind as garbage until a compaction copies the live documents into one new chunk,
// which happens once garbage outweighs them. Views taken from the list hold until its next
// change.
class DocumentList {
 public:
  DocumentList() = default;
  DocumentList(DocumentList&&) noexcept = default;
  DocumentList& operator=(DocumentList&&) noexcept = default;

  std::size_t size() const noexcept { return slots_.size(); }
  bool empty() const noexcept { return slots_.empty(); }
  PackedValue operator[](std::size_t i) const noexcept { return slots_[i]; }
  std::span<const PackedValue> all() const noexcept { return slots_; }

  // From this size on, a buffer of new documents is worth taking as a chunk of its own.
  static constexpr std::size_t kAdoptedBytes = std::size_t{64} << 10;

  // Takes `buffer` as a chunk and appends `documents`, which lie in it, without copying them.
  // The rest of the buffer counts as garbage. Throws std::bad_alloc, and then nothing changed.
  void adopt(PackedBuffer buffer, PackedArray documents);
  // Appends a copy of each element of `documents`, or of `document`. Throws std::bad_alloc, and
  // then nothing changed.
  void append(PackedArray documents);
  void append(PackedValue document);

  // Removes the documents at `positions` (ascending), keeping the order of the others.
  // Allocates nothing.
  void remove(std::span<const std::uint32_t> positions) noexcept;

  // A replacement for some documents, made in full before any is replaced so that running out of
  // memory changes nothing: stage() each new document, then commit().
  class Replacement {
   public:
    // Appends the packed form of the new document for position `i`.
    void stage(std::uint32_t i, const Value& document);

   private:
    friend class DocumentList;
    PackedBuffer bytes_;
    std::vector<std::pair<std::uint32_t, std::size_t>> offsets_;  // position, offset in bytes_
  };
  // Puts the staged documents in place. Throws std::bad_alloc, and then nothing changed. Views
  // of the other documents still hold, until reclaim().
  void commit(Replacement replacement);
  // Once garbage outweighs the documents, copies them into one new chunk; kept as it is when
  // memory runs short. remove() and commit() leave it to be called after them.
  void reclaim() noexcept;

  // Bytes held by chunks, and those of them no document uses.
  std::size_t chunk_bytes() const noexcept { return chunk_bytes_; }
  std::size_t garbage_bytes() const noexcept { return garbage_bytes_; }

 private:
  // A chunk for at least `bytes` more, the last one when it has room: chunks grow geometrically,
  // so that many small inserts still fill few of them.
  PackedBuffer& room_for(std::size_t bytes);
  // Appends a copy of the `count` documents packed one after another in [first, first + bytes).
  void append_run(const char* first, std::size_t bytes, std::size_t count);
  void add_chunk(PackedBuffer chunk);
  std::vector<PackedBuffer> chunks_;  // appended to only within their capacity: never moved
  std::vector<PackedValue> slots_;
  std::size_t chunk_bytes_ = 0;
  std::size_t garbage_bytes_ = 0;
};

}  // namespace zarvel
