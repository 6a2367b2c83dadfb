// The result cache: answers to queries, least recently used dropped first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "value/value.h"

namespace zarvel {

inline constexpr std::size_t kCacheCapacity = 100;

// The documents that answered one query, in collection order. Never changed once built; shared
// by the cache and whoever is converting it.
using ResultList = std::vector<Value>;
using SharedResult = std::shared_ptr<const ResultList>;

// Maps (collection name, query) to its answer. Entries are filed under query_key, but an answer
// is only given back for the very collection name and query (by value equality) it was stored
// with, so colliding keys never share an answer. get and put are O(1) apart from hashing and
// comparing the query.
class ResultCache {
 public:
  explicit ResultCache(std::size_t capacity = kCacheCapacity) : capacity_(capacity) {}
  ResultCache(const ResultCache&) = delete;
  ResultCache& operator=(const ResultCache&) = delete;
  ResultCache(ResultCache&&) = default;
  ResultCache& operator=(ResultCache&&) = default;

  // The answer stored for `query` on `collection`, made the most recently used; null on a miss.
  SharedResult get(std::string_view collection, const Object& query);
  // Stores `list` as the most recently used answer. It replaces the entry filed under the same
  // key (whatever query that entry holds); otherwise, when full, the least recently used entry is
  // dropped first. Copies `collection` and `query`.
  void put(std::string_view collection, const Object& query, SharedResult list);
  // Drops every answer stored for `collection`.
  void invalidate(std::string_view collection);
  void clear();

  std::size_t size() const noexcept { return entries_.size(); }
  std::size_t capacity() const noexcept { return capacity_; }

 private:
  struct Entry {
    std::uint64_t key;
    std::string collection;
    Object query;
    SharedResult list;
  };
  using Entries = std::list<Entry>;

  std::size_t capacity_;
  Entries entries_;  // most recently used first
  std::unordered_map<std::uint64_t, Entries::iterator> index_;
};

}  // namespace zarvel
