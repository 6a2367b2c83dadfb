#include "lib/document_list.h"

#include <algorithm>
#include <new>

namespace zarvel {

namespace {

// Chunks for appended documents start small, so a small collection stays small, and double up to
// this size, so a large one needs few of them.
constexpr std::size_t kFirstChunkBytes = std::size_t{4} << 10;
constexpr std::size_t kLargestChunkBytes = std::size_t{16} << 20;
// Compaction is not worth its copy below this much garbage.
constexpr std::size_t kCompactionFloor = std::size_t{64} << 10;

// Room for `more` items, grown geometrically: exact growth would make many small inserts
// quadratic.
template <class T>
void reserve_more(std::vector<T>& items, std::size_t more) {
  std::size_t needed = items.size() + more;
  if (needed > items.capacity()) items.reserve(std::max(needed, 2 * items.capacity()));
}

std::size_t body_bytes(PackedArray documents) noexcept {
  return static_cast<std::size_t>(documents.end().data() - documents.begin().data());
}

}  // namespace

void DocumentList::add_chunk(PackedBuffer chunk) {
  chunk_bytes_ += chunk.size();
  chunks_.push_back(std::move(chunk));
}

PackedBuffer& DocumentList::room_for(std::size_t bytes) {
  if (!chunks_.empty() && chunks_.back().capacity() - chunks_.back().size() >= bytes)
    return chunks_.back();
  std::size_t last = chunks_.empty() ? 0 : chunks_.back().capacity();
  PackedBuffer chunk;
  chunk.reserve(std::max({bytes, kFirstChunkBytes, std::min(2 * last, kLargestChunkBytes)}));
  reserve_more(chunks_, 1);
  chunks_.push_back(std::move(chunk));
  return chunks_.back();
}

void DocumentList::adopt(PackedBuffer buffer, PackedArray documents) {
  reserve_more(chunks_, 1);
  reserve_more(slots_, documents.size());
  // Nothing below can fail. Shrinking may move the buffer: the array is found again by offset.
  std::size_t offset = static_cast<std::size_t>(documents.data() - buffer.data());
  buffer.shrink_to_fit();
  documents = PackedArray(buffer.data() + offset);
  garbage_bytes_ += buffer.size() - body_bytes(documents);
  for (PackedValue document : documents) slots_.push_back(document);
  add_chunk(std::move(buffer));
}

void DocumentList::append(PackedArray documents) {
  append_run(documents.begin().data(), body_bytes(documents), documents.size());
}

void DocumentList::append(PackedValue document) { append_run(document.data(), document.size(), 1); }

void DocumentList::append_run(const char* first, std::size_t bytes, std::size_t count) {
  reserve_more(slots_, count);
  PackedBuffer& chunk = room_for(bytes);
  // Nothing below can fail: the chunk has room, so it is not moved.
  char* copy = chunk.extend(bytes);
  if (bytes != 0) std::memcpy(copy, first, bytes);
  chunk_bytes_ += bytes;
  for (const char* p = copy; p != copy + bytes; p += packed::value_size(p)) slots_.emplace_back(p);
}

void DocumentList::remove(std::span<const std::uint32_t> positions) noexcept {
  if (positions.empty()) return;
  std::size_t kept = positions.front();
  std::size_t next = 0;
  for (std::size_t i = positions.front(); i < slots_.size(); ++i) {
    if (next < positions.size() && positions[next] == i) {
      garbage_bytes_ += slots_[i].size();
      ++next;
      continue;
    }
    slots_[kept++] = slots_[i];
  }
  slots_.resize(kept, PackedValue(nullptr));
}

void DocumentList::Replacement::stage(std::uint32_t i, const Value& document) {
  // Before the document is packed, so that the push cannot fail.
  reserve_more(offsets_, 1);
  std::size_t offset = bytes_.size();
  pack(document, bytes_);
  offsets_.emplace_back(i, offset);
}

void DocumentList::commit(Replacement replacement) {
  if (replacement.offsets_.empty()) return;
  reserve_more(chunks_, 1);
  // Nothing below can fail.
  replacement.bytes_.shrink_to_fit();
  const char* base = replacement.bytes_.data();
  for (auto [i, offset] : replacement.offsets_) {
    garbage_bytes_ += slots_[i].size();
    slots_[i] = PackedValue(base + offset);
  }
  add_chunk(std::move(replacement.bytes_));
}

void DocumentList::reclaim() noexcept {
  std::size_t live = chunk_bytes_ - garbage_bytes_;
  if (garbage_bytes_ <= live || garbage_bytes_ < kCompactionFloor) return;
  try {
    PackedBuffer compacted;
    compacted.reserve(live);
    std::vector<PackedBuffer> chunks;
    chunks.reserve(1);
    // Nothing below can fail.
    for (PackedValue& slot : slots_) {
      std::size_t size = slot.size();
      char* copy = compacted.extend(size);
      std::memcpy(copy, slot.data(), size);
      slot = PackedValue(copy);
    }
    chunks.push_back(std::move(compacted));
    chunks_ = std::move(chunks);
    chunk_bytes_ = live;
    garbage_bytes_ = 0;
  } catch (const std::bad_alloc&) {
    // The garbage stays until the next change tries again.
  }
}

}  // namespace zarvel
