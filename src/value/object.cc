// Object: the member block, searching, sorting and editing.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "value/value.h"

namespace zarvel {

struct Object::Block {
  std::uint32_t size;
  std::uint32_t capacity;
  Member* members() noexcept { return reinterpret_cast<Member*>(this + 1); }
};

static_assert(alignof(Object::Member) <= 8, "members follow the 8-byte block header unpadded");

namespace {

using Member = Object::Member;

constexpr std::size_t kLinearFindLimit = 16;
constexpr std::size_t kInsertionSortLimit = 32;

// Byte order; most neighbouring keys already differ in their first byte.
bool key_less(std::string_view a, std::string_view b) noexcept {
  if (!a.empty() && !b.empty() && a[0] != b[0]) {
    return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
  }
  return a < b;
}

bool member_less(const Member& a, const Member& b) noexcept { return key_less(a.key, b.key); }

bool is_strictly_sorted(const Member* first, const Member* last) noexcept {
  for (const Member* m = first + 1; m < last; ++m) {
    std::uint64_t before = m[-1].key.prefix();
    std::uint64_t after = m->key.prefix();
    if (before != after ? before > after : !key_less(m[-1].key, m->key)) return false;
  }
  return true;
}

// Sorts [first, last) by key, stable, and keeps the last of each run of equal keys at the front;
// returns the end of the kept members. What lies beyond is moved-from.
Member* sort_and_deduplicate(Member* first, Member* last) {
  std::stable_sort(first, last, member_less);
  Member* out = first;
  for (Member* m = first; m < last; ++m) {
    if (m + 1 < last && m->key == m[1].key) continue;
    if (out != m) *out = std::move(*m);
    ++out;
  }
  return out;
}

// For the `n` (at most kInsertionSortLimit) members at `first`: fills `order` with their positions
// in key order, the last of each run of equal keys kept, and returns how many were kept. Sorting
// one-byte positions over the keys' views moves far less than sorting the 32-byte members.
std::size_t sorted_positions(const Member* first, std::size_t n, std::uint8_t* order) {
  struct SortKey {
    std::uint64_t prefix;
    std::string_view key;
  };
  // Left unbuilt: only the first n are set, and building all of them costs more than the sort.
  alignas(SortKey) unsigned char storage[kInsertionSortLimit * sizeof(SortKey)];
  SortKey* keys = reinterpret_cast<SortKey*>(storage);
  for (std::size_t i = 0; i < n; ++i) {
    new (keys + i) SortKey{first[i].key.prefix(), first[i].key.view()};
    order[i] = static_cast<std::uint8_t>(i);
  }
  // Most keys differ within their first eight bytes, which then decide as one integer comparison.
  auto less = [keys](std::uint8_t a, std::uint8_t b) {
    const SortKey& x = keys[a];
    const SortKey& y = keys[b];
    return x.prefix != y.prefix ? x.prefix < y.prefix : x.key < y.key;
  };
  // Insertion sort: stable, and a single pass over members already in order.
  for (std::size_t i = 1; i < n; ++i) {
    std::uint8_t moving = order[i];
    std::size_t hole = i;
    for (; hole > 0 && less(moving, order[hole - 1]); --hole) order[hole] = order[hole - 1];
    order[hole] = moving;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i + 1 < n && keys[order[i]].key == keys[order[i + 1]].key) continue;
    order[kept++] = order[i];
  }
  return kept;
}

}  // namespace

Object::Block* Object::allocate(std::size_t size, std::size_t capacity) {
  if (capacity > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  void* memory = ::operator new(sizeof(Block) + capacity * sizeof(Member));
  return new (memory) Block{static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(capacity)};
}

Object::Object(const Object& other) {
  if (other.empty()) return;
  Object copy;
  copy.block_ = allocate(0, other.size());
  for (const Member& member : other) {
    new (copy.block_->members() + copy.block_->size) Member(member);
    ++copy.block_->size;  // counted once built, so a failing copy frees exactly what exists
  }
  *this = std::move(copy);
}

Object& Object::operator=(const Object& other) {
  if (this != &other) *this = Object(other);
  return *this;
}

Object& Object::operator=(Object&& other) noexcept {
  if (this != &other) {
    release();
    block_ = std::exchange(other.block_, nullptr);
  }
  return *this;
}

void Object::release() noexcept {
  if (block_ == nullptr) return;
  std::destroy_n(block_->members(), block_->size);
  block_->~Block();
  ::operator delete(block_);
  block_ = nullptr;
}

std::size_t Object::size() const noexcept { return block_ == nullptr ? 0 : block_->size; }
std::size_t Object::capacity() const noexcept { return block_ == nullptr ? 0 : block_->capacity; }

Object::const_iterator Object::begin() const noexcept {
  return block_ == nullptr ? nullptr : block_->members();
}

Object::iterator Object::begin() noexcept {
  return block_ == nullptr ? nullptr : block_->members();
}

Object Object::from_members(std::vector<Member>&& members) {
  return from_members(members.data(), members.data() + members.size());
}

Object Object::from_members(Member* first, Member* last) {
  Object object;
  if (first == last) return object;
  std::size_t count = static_cast<std::size_t>(last - first);
  if (is_strictly_sorted(first, last)) {
    // Documents read back from a collection file come in key order.
    object.block_ = allocate(count, count);
    std::uninitialized_move(first, last, object.block_->members());
    return object;
  }
  if (count <= kInsertionSortLimit) {
    std::uint8_t order[kInsertionSortLimit];
    std::size_t kept = sorted_positions(first, count, order);
    object.block_ = allocate(kept, kept);
    Member* members = object.block_->members();
    for (std::size_t i = 0; i < kept; ++i) new (members + i) Member(std::move(first[order[i]]));
    return object;
  }
  Member* kept_end = sort_and_deduplicate(first, last);
  std::size_t n = static_cast<std::size_t>(kept_end - first);
  object.block_ = allocate(n, n);
  std::uninitialized_move(first, kept_end, object.block_->members());
  return object;
}

Object::iterator Object::open_gap(std::size_t position) {
  std::size_t n = size();
  if (block_ != nullptr && n < block_->capacity) {
    Member* members = block_->members();
    if (position < n) {
      new (members + n) Member(std::move(members[n - 1]));
      std::move_backward(members + position, members + n - 1, members + n);
      members[position].~Member();
    }
    ++block_->size;
    return members + position;
  }
  Block* grown = allocate(n + 1, std::max<std::size_t>(4, 2 * n));
  Member* members = begin();
  std::uninitialized_move(members, members + position, grown->members());
  std::uninitialized_move(members + position, members + n, grown->members() + position + 1);
  release();
  block_ = grown;
  return grown->members() + position;
}

Object::const_iterator Object::lower_bound(std::string_view key) const noexcept {
  return std::lower_bound(begin(), end(), key,
                          [](const Member& m, std::string_view k) { return key_less(m.key, k); });
}

const Value* Object::find(std::string_view key) const noexcept {
  // Documents mostly hold a handful of members: comparing lengths first over a short run is
  // cheaper than a binary search's unpredictable branches and full comparisons.
  if (size() <= kLinearFindLimit) {
    for (const Member& member : *this) {
      if (member.key.equals(key)) return &member.value;
    }
    return nullptr;
  }
  const_iterator it = lower_bound(key);
  if (it == end() || !it->key.equals(key)) return nullptr;
  return &it->value;
}

Value* Object::find(std::string_view key) noexcept {
  return const_cast<Value*>(static_cast<const Object*>(this)->find(key));
}

void Object::insert_or_assign(std::string_view key, Value value) {
  std::size_t position = static_cast<std::size_t>(lower_bound(key) - begin());
  if (position < size() && begin()[position].key.equals(key)) {
    begin()[position].value = std::move(value);
    return;
  }
  Key owned(key);  // built before the gap opens, so a failing allocation changes nothing
  new (open_gap(position)) Member{std::move(owned), std::move(value)};
}

bool Object::erase(std::string_view key) {
  const_iterator found = lower_bound(key);
  if (found == end() || !found->key.equals(key)) return false;
  iterator it = begin() + (found - begin());
  std::move(it + 1, end(), it);
  std::destroy_at(end() - 1);
  --block_->size;
  return true;
}

bool operator==(const Object& a, const Object& b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace zarvel
