// The key of an object member. A Key is 16 bytes: keys of up to 15 bytes (nearly all of them) live
// inside it, longer keys in one heap block. Keys compare as byte strings (unsigned bytes, a prefix
// before its extensions), like std::string_view.
#pragma once

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "value/small_copy.h"

namespace zarvel {

class Key {
 public:
  // Keys of up to this many bytes are held inline.
  static constexpr std::size_t kInlineCapacity = 15;

  Key() noexcept : bytes_{} {}
  // Implicit, like std::string's, so members read as {"name", value}.
  Key(std::string_view text);                             // NOLINT(google-explicit-constructor)
  Key(const char* text) : Key(std::string_view(text)) {}  // NOLINT(google-explicit-constructor)
  // An inline key copies as its 16 bytes.
  Key(const Key& other) {
    if (other.is_heap()) {
      init_heap(other.view());
    } else {
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    }
  }
  Key(Key&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    std::memset(other.bytes_, 0, sizeof other.bytes_);
  }
  Key& operator=(const Key& other) {
    if (this != &other) *this = Key(other);
    return *this;
  }
  Key& operator=(Key&& other) noexcept {
    if (this != &other) {
      if (is_heap()) release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      std::memset(other.bytes_, 0, sizeof other.bytes_);
    }
    return *this;
  }
  ~Key() {
    if (is_heap()) release();
  }

  std::size_t size() const noexcept { return is_heap() ? heap()->size : tag(); }
  const char* data() const noexcept { return is_heap() ? heap()->data() : bytes_; }
  std::string_view view() const noexcept {
    if (is_heap()) return {heap()->data(), heap()->size};
    return {bytes_, tag()};
  }
  // Implicit, so that a key passes wherever its text is wanted.
  // NOLINTNEXTLINE(google-explicit-constructor)
  operator std::string_view() const noexcept { return view(); }

  // The first eight bytes, zero-padded, as an integer that orders as the bytes do. Keys with equal
  // prefixes need a full comparison ("a" and "a\0" share theirs).
  std::uint64_t prefix() const noexcept {
    // Eight bytes can always be read: an inline key is zero-padded to 16, a heap key is longer.
    std::uint64_t word;
    std::memcpy(&word, data(), sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
  }

  // The 16 bytes of an inline key, as two words: a lookup compares and hashes them instead of the
  // text. A heap key's words never equal an inline key's, whose last byte is its length.
  struct Words {
    std::uint64_t low;
    std::uint64_t high;
    friend bool operator==(const Words&, const Words&) = default;
  };
  Words words() const noexcept {
    Words words;
    std::memcpy(&words, bytes_, sizeof words);
    return words;
  }
  // The words of the inline key `text` (at most kInlineCapacity bytes) would hold, without making
  // one.
  static Words inline_words(std::string_view text) noexcept {
    char bytes[16] = {};
    copy_small(bytes, text.data(), text.size());
    bytes[kTagIndex] = static_cast<char>(text.size());
    Words words;
    std::memcpy(&words, bytes, sizeof words);
    return words;
  }

  // Equality without a full comparison when the lengths differ, which is the common case.
  bool equals(std::string_view text) const noexcept {
    return size() == text.size() && std::memcmp(data(), text.data(), text.size()) == 0;
  }

  friend bool operator==(const Key& a, const Key& b) noexcept { return a.equals(b.view()); }
  friend std::strong_ordering operator<=>(const Key& a, const Key& b) noexcept {
    return a.view() <=> b.view();
  }

 private:
  struct HeapKey {
    std::size_t size;
    char* data() noexcept { return reinterpret_cast<char*>(this + 1); }
  };
  static constexpr std::size_t kTagIndex = 15;
  // The tag is the inline length, or kHeapTag when bytes_ starts with a HeapKey pointer.
  static constexpr std::uint8_t kHeapTag = 0xFF;

  std::uint8_t tag() const noexcept { return static_cast<std::uint8_t>(bytes_[kTagIndex]); }
  bool is_heap() const noexcept { return tag() == kHeapTag; }
  HeapKey* heap() const noexcept {
    HeapKey* block;
    std::memcpy(&block, bytes_, sizeof block);
    return block;
  }
  // Makes this a heap key holding `text`, longer than kInlineCapacity.
  void init_heap(std::string_view text);
  void release() noexcept;

  alignas(8) char bytes_[16];
};

static_assert(sizeof(Key) == 16, "Key must stay 16 bytes");

}  // namespace zarvel
