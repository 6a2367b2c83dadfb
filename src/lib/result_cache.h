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

#include "lib/collection.h"
#include "value/value.h"

namespace zarvel {

inline constexpr std::size_t kCacheCapacity = 100;
// Answers are positions, four bytes a match, so this is only reached by tens of millions of
// matches or by huge query operands; it keeps any mix of queries from growing the cache without
// bound.
inline constexpr std::size_t kCacheByteCapacity = std::size_t{256} << 20;

// The documents that answered one query: their positions in the collection, ascending. It names
// documents instead of copying them, so it holds only while the collection stays at `version`.
// Never changed once built; shared by the cache and whoever is converting it.
struct QueryAnswer {
  SharedCollection collection;
  std::uint64_t version = 0;
  std::vector<std::uint32_t> positions;

  bool current_for(const SharedCollection& now) const noexcept {
    return collection == now && version == now->version;
  }
};
using SharedAnswer = std::shared_ptr<const QueryAnswer>;

// Maps (collection name, query) to its answer, bounded both in entries and in the bytes they hold.
// Entries are filed under query_key, but an answer is only given back for the very collection name
// and query (by value equality) it was stored with, so colliding keys never share an answer. get
// and put are O(1) apart from hashing and comparing the query.
class ResultCache {
 public:
  explicit ResultCache(std::size_t capacity = kCacheCapacity,
                       std::size_t byte_capacity = kCacheByteCapacity)
      : capacity_(capacity), byte_capacity_(byte_capacity) {}
  ResultCache(const ResultCache&) = delete;
  ResultCache& operator=(const ResultCache&) = delete;
  ResultCache(ResultCache&&) = default;
  ResultCache& operator=(ResultCache&&) = default;

  // The answer stored for `query` on `collection`, made the most recently used; null on a miss.
  SharedAnswer get(std::string_view collection, const Object& query);
  // Stores `answer` as the most recently used, replacing the entry filed under the same key
  // (whatever query that entry holds), then drops the least recently used entries until both
  // bounds hold. An entry larger than the byte bound alone is not stored. Copies `collection` and
  // `query`.
  void put(std::string_view collection, const Object& query, SharedAnswer answer);
  // Drops every answer stored for `collection`.
  void invalidate(std::string_view collection);
  void clear();

  std::size_t size() const noexcept { return entries_.size(); }
  std::size_t capacity() const noexcept { return capacity_; }
  // What the entries hold, as put() counts it.
  std::size_t bytes() const noexcept { return bytes_; }
  std::size_t byte_capacity() const noexcept { return byte_capacity_; }

 private:
  struct Entry {
    std::uint64_t key;
    std::string collection;
    Object query;
    SharedAnswer answer;
    std::size_t bytes;
  };
  using Entries = std::list<Entry>;

  static std::size_t entry_bytes(std::string_view collection, const Object& query,
                                 const QueryAnswer& answer) noexcept;
  Entries::iterator erase(Entries::iterator entry);

  std::size_t capacity_;
  std::size_t byte_capacity_;
  std::size_t bytes_ = 0;
  Entries entries_;  // most recently used first
  std::unordered_map<std::uint64_t, Entries::iterator> index_;
};

}  // namespace zarvel
