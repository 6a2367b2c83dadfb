#include "value/key.h"

#include <new>

#include "value/small_copy.h"

namespace zarvel {

Key::Key(std::string_view text) {
  if (text.size() <= kInlineCapacity) {
    std::memset(bytes_, 0, sizeof bytes_);  // the padding is part of prefix()
    copy_small(bytes_, text.data(), text.size());
    bytes_[kTagIndex] = static_cast<char>(text.size());
    return;
  }
  init_heap(text);
}

void Key::init_heap(std::string_view text) {
  void* memory = ::operator new(sizeof(HeapKey) + text.size());
  HeapKey* block = new (memory) HeapKey{text.size()};
  std::memcpy(block->data(), text.data(), text.size());
  std::memcpy(bytes_, &block, sizeof block);
  bytes_[kTagIndex] = static_cast<char>(kHeapTag);
}

void Key::release() noexcept {
  HeapKey* block = heap();
  block->~HeapKey();
  ::operator delete(block);
}

}  // namespace zarvel
