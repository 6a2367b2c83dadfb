#include "lib/result_cache.h"

#include <utility>

#include "lib/query_key.h"

namespace zarvel {

SharedResult ResultCache::get(std::string_view collection, const Object& query) {
  auto found = index_.find(query_key(collection, query));
  if (found == index_.end()) return nullptr;
  Entries::iterator entry = found->second;
  if (entry->collection != collection || !(entry->query == query)) return nullptr;
  entries_.splice(entries_.begin(), entries_, entry);
  return entry->list;
}

void ResultCache::put(std::string_view collection, const Object& query, SharedResult list) {
  if (capacity_ == 0) return;
  std::uint64_t key = query_key(collection, query);
  if (auto found = index_.find(key); found != index_.end()) {
    Entries::iterator entry = found->second;
    entry->collection.assign(collection);
    entry->query = query;
    entry->list = std::move(list);
    entries_.splice(entries_.begin(), entries_, entry);
    return;
  }
  if (entries_.size() >= capacity_) {
    index_.erase(entries_.back().key);
    entries_.pop_back();
  }
  entries_.push_front(Entry{key, std::string(collection), query, std::move(list)});
  index_.emplace(key, entries_.begin());
}

void ResultCache::invalidate(std::string_view collection) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->collection == collection) {
      index_.erase(it->key);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

void ResultCache::clear() {
  index_.clear();
  entries_.clear();
}

}  // namespace zarvel
