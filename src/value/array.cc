// Array: the element block and its growth.
#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "value/value.h"

namespace zarvel {

static_assert(alignof(Value) <= 8, "elements follow the 8-byte block header unpadded");

namespace {

// Built in a local first: a copy failing part-way then frees what it made.
Array copy_of(const Value* first, const Value* last) {
  Array copy;
  copy.reserve(static_cast<std::size_t>(last - first));
  for (const Value* element = first; element != last; ++element) copy.push_back(*element);
  return copy;
}

}  // namespace

Array::Array(std::initializer_list<Value> elements) {
  *this = copy_of(elements.begin(), elements.end());
}

Array::Array(const std::vector<Value>& elements) {
  *this = copy_of(elements.data(), elements.data() + elements.size());
}

Array::Array(std::vector<Value>&& elements) {
  *this = from_elements(elements.data(), elements.data() + elements.size());
  elements.clear();
}

Array::Array(const Array& other) { *this = copy_of(other.begin(), other.end()); }

Array& Array::operator=(const Array& other) {
  if (this != &other) *this = Array(other);
  return *this;
}

Array& Array::operator=(Array&& other) noexcept {
  if (this != &other) {
    release();
    block_ = std::exchange(other.block_, nullptr);
  }
  return *this;
}

Array Array::from_elements(Value* first, Value* last) {
  Array array;
  array.reserve(static_cast<std::size_t>(last - first));
  if (first != last) {
    std::uninitialized_move(first, last, array.block_->elements());
    array.block_->size = static_cast<std::uint32_t>(last - first);
  }
  return array;
}

void Array::reserve(std::size_t capacity) {
  if (capacity > (block_ == nullptr ? 0 : block_->capacity)) reallocate(capacity);
}

Value& Array::emplace_back() {
  std::size_t n = size();
  if (block_ == nullptr || n == block_->capacity) reallocate(std::max<std::size_t>(4, 2 * n));
  Value* slot = new (block_->elements() + n) Value();
  ++block_->size;
  return *slot;
}

void Array::push_back(Value value) { emplace_back() = std::move(value); }

void Array::truncate(std::size_t size) noexcept {
  if (size >= this->size()) return;
  std::destroy(begin() + size, end());
  block_->size = static_cast<std::uint32_t>(size);
}

void Array::reallocate(std::size_t capacity) {
  if (capacity > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  void* memory = ::operator new(sizeof(Block) + capacity * sizeof(Value));
  std::uint32_t n = static_cast<std::uint32_t>(size());
  Block* grown = new (memory) Block{n, static_cast<std::uint32_t>(capacity)};
  // Moving a Value cannot throw, so the elements are never split between the two blocks.
  if (n != 0) std::uninitialized_move(begin(), end(), grown->elements());
  release();
  block_ = grown;
}

void Array::release() noexcept {
  if (block_ == nullptr) return;
  std::destroy_n(block_->elements(), block_->size);
  block_->~Block();
  ::operator delete(block_);
  block_ = nullptr;
}

bool operator==(const Array& a, const Array& b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace zarvel
