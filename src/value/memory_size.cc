#include "value/memory_size.h"

namespace zarvel {

namespace {

// What malloc adds to each block, header and rounding together, on 64-bit glibc.
constexpr std::size_t kAllocationOverhead = 16;
// The count and capacity in front of every array and object block.
constexpr std::size_t kBlockHeader = 8;

std::size_t heap_block(std::size_t bytes) noexcept { return bytes + kAllocationOverhead; }

std::size_t heap_size(const Array& array) noexcept {
  if (array.capacity() == 0) return 0;
  std::size_t size = heap_block(kBlockHeader + array.capacity() * sizeof(Value));
  for (const Value& element : array) size += heap_size(element);
  return size;
}

}  // namespace

std::size_t heap_size(const Object& object) noexcept {
  if (object.capacity() == 0) return 0;
  std::size_t size = heap_block(kBlockHeader + object.capacity() * sizeof(Object::Member));
  for (const Object::Member& member : object) {
    if (member.key.size() > Key::kInlineCapacity)
      size += heap_block(sizeof(std::size_t) + member.key.size());
    size += heap_size(member.value);
  }
  return size;
}

std::size_t heap_size(const Value& value) noexcept {
  switch (value.kind()) {
    case Kind::kString: {
      std::size_t length = value.as_string().size();
      return length > Value::kInlineStringCapacity ? heap_block(sizeof(std::size_t) + length) : 0;
    }
    case Kind::kArray:
      return heap_size(value.as_array());
    case Kind::kObject:
      return heap_size(value.as_object());
    default:
      return 0;
  }
}

}  // namespace zarvel
