#include "lib/result_cache.h"

#include <utility>

#include "lib/query_key.h"
#include "value/memory_size.h"

namespace zarvel {

namespace {

// The entry, its list node and its index node, roughly.
constexpr std::size_t kEntryOverhead = 160;

}  // namespace

std::size_t ResultCache::entry_bytes(std::string_view collection, const Object& query,
                                     const QueryAnswer& answer) noexcept {
  return kEntryOverhead + collection.size() + heap_size(query) +
         answer.positions.capacity() * sizeof(std::uint32_t);
}

SharedAnswer ResultCache::get(std::string_view collection, const Object& query) {
  auto found = index_.find(query_key(collection, query));
  if (found == index_.end()) return nullptr;
  Entries::iterator entry = found->second;
  if (entry->collection != collection || !(entry->query == query)) return nullptr;
  entries_.splice(entries_.begin(), entries_, entry);
  return entry->answer;
}

void ResultCache::put(std::string_view collection, const Object& query, SharedAnswer answer) {
  std::uint64_t key = query_key(collection, query);
  if (auto found = index_.find(key); found != index_.end()) erase(found->second);
  std::size_t bytes = entry_bytes(collection, query, *answer);
  if (capacity_ == 0 || bytes > byte_capacity_) return;
  while (!entries_.empty() && (entries_.size() >= capacity_ || bytes_ + bytes > byte_capacity_)) {
    erase(std::prev(entries_.end()));
  }
  entries_.push_front(Entry{key, std::string(collection), query, std::move(answer), bytes});
  index_.emplace(key, entries_.begin());
  bytes_ += bytes;
}

ResultCache::Entries::iterator ResultCache::erase(Entries::iterator entry) {
  index_.erase(entry->key);
  bytes_ -= entry->bytes;
  return entries_.erase(entry);
}

void ResultCache::invalidate(std::string_view collection) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    it = it->collection == collection ? erase(it) : std::next(it);
  }
}

void ResultCache::clear() {
  index_.clear();
  entries_.clear();
  bytes_ = 0;
}

}  // namespace zarvel
