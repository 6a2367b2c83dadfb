#include "value/key.h"

#include <new>

namespace zarvel {

Key::Key(std::string_view text) {
  if (text.size() <= kInlineCapacity) {
    if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
    bytes_[kTagIndex] = static_cast<char>(text.size());
    return;
  }
  void* memory = ::operator new(sizeof(HeapKey) + text.size());
  HeapKey* block = new (memory) HeapKey{text.size()};
  std::memcpy(block->data(), text.data(), text.size());
  std::memcpy(bytes_, &block, sizeof block);
  bytes_[kTagIndex] = static_cast<char>(kHeapTag);
}

Key& Key::operator=(const Key& other) {
  if (this != &other) *this = Key(other);
  return *this;
}

void Key::release() noexcept {
  HeapKey* block = heap();
  block->~HeapKey();
  ::operator delete(block);
}

}  // namespace zarvel
