// The packed form of a document value: one run of bytes, front to back, with no pointers, so that
// a collection can keep its documents one after another in a few large blocks and walk them at
// memory speed. Views read it in place; nothing is decoded until asked for.
//
// Every value starts with a tag byte:
//   null, false, true                 the tag alone
//   unsigned, negative, float         the tag, then the 8 bytes of the number's payload
//   short string (up to 255 bytes)    the tag, one length byte, the bytes
//   string                            the tag, a 4-byte length, the bytes
//   small array, small object         the tag, the 1-byte length of the body, the 1-byte count of
//                                     elements or members, then the body (both up to 255)
//   array, object                     the tag, the 4-byte length of the body, the 4-byte count of
//                                     elements or members, then the body
// An object's members are held in ascending byte order of their keys, each key once, as an
// Object's are; a member is its key (one length byte, or 255 and a 4-byte length, then the
// bytes) followed by its value. Lengths and payloads are little-endian and unaligned. Containers
// state the length of their body, so a reader steps over one without looking inside it; every
// number takes 9 bytes, so a number changes in place whatever its new form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

#include "value/value.h"

namespace zarvel {

enum class PackedTag : std::uint8_t {
  kNull = 0,
  kFalse = 1,
  kTrue = 2,
  kUnsigned = 3,
  kNegative = 4,
  kFloat = 5,
  kShortString = 6,
  kString = 7,
  kArray = 8,
  kObject = 9,
  kSmallArray = 10,
  kSmallObject = 11,
};

namespace packed {

inline constexpr std::size_t kNumberSize = 9;
inline constexpr std::size_t kContainerHeaderSize = 9;
inline constexpr std::size_t kSmallContainerHeaderSize = 3;
inline constexpr std::size_t kMaxSmallContainer = 255;  // body bytes, and elements or members
inline constexpr std::size_t kMaxShortLength = 255;
// A key length byte of this value says a 4-byte length follows.
inline constexpr std::uint8_t kLongKey = 255;

inline std::uint32_t load_u32(const char* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline std::uint64_t load_u64(const char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store_u32(char* p, std::uint32_t v) noexcept { std::memcpy(p, &v, sizeof v); }
inline void store_u64(char* p, std::uint64_t v) noexcept { std::memcpy(p, &v, sizeof v); }

inline PackedTag tag_at(const char* p) noexcept { return static_cast<PackedTag>(*p); }

// The bytes of the value starting at `p`.
inline std::size_t value_size(const char* p) noexcept {
  switch (tag_at(p)) {
    case PackedTag::kNull:
    case PackedTag::kFalse:
    case PackedTag::kTrue:
      return 1;
    case PackedTag::kUnsigned:
    case PackedTag::kNegative:
    case PackedTag::kFloat:
      return kNumberSize;
    case PackedTag::kShortString:
      return 2 + static_cast<unsigned char>(p[1]);
    case PackedTag::kString:
      return 5 + std::size_t{load_u32(p + 1)};
    case PackedTag::kSmallArray:
    case PackedTag::kSmallObject:
      return kSmallContainerHeaderSize + static_cast<unsigned char>(p[1]);
    case PackedTag::kArray:
    case PackedTag::kObject:
      break;
  }
  return kContainerHeaderSize + std::size_t{load_u32(p + 1)};
}

// The body of the array or object whose tag is at `p`: where it starts, where it ends, and the
// count of its elements or members.
struct ContainerBody {
  const char* begin;
  const char* end;
  std::size_t count;
};
inline ContainerBody container_body(const char* p) noexcept {
  if (tag_at(p) >= PackedTag::kSmallArray) {
    const char* begin = p + kSmallContainerHeaderSize;
    return {begin, begin + static_cast<unsigned char>(p[1]), static_cast<unsigned char>(p[2])};
  }
  const char* begin = p + kContainerHeaderSize;
  return {begin, begin + load_u32(p + 1), load_u32(p + 5)};
}

// The key of the member starting at `p`, and where its value starts.
inline std::string_view member_key(const char* p, const char*& value) noexcept {
  auto length = static_cast<unsigned char>(*p);
  if (length != kLongKey) {
    value = p + 1 + length;
    return {p + 1, length};
  }
  std::uint32_t long_length = load_u32(p + 1);
  value = p + 5 + long_length;
  return {p + 5, long_length};
}

// Writes the tag and payload of `number` at `p` (kNumberSize bytes).
void write_number(char* p, Number number) noexcept;

}  // namespace packed

class PackedArray;
class PackedObject;

// A view of one packed value. It reads the bytes it was given, which must stay unchanged while it
// is in use. The accessors mirror Value's, so that code reading documents serves both forms.
class PackedValue {
 public:
  explicit PackedValue(const char* bytes) noexcept : p_(bytes) {}

  const char* data() const noexcept { return p_; }
  std::size_t size() const noexcept { return packed::value_size(p_); }
  PackedTag tag() const noexcept { return packed::tag_at(p_); }

  Kind kind() const noexcept {
    static constexpr Kind kKinds[] = {Kind::kNull,   Kind::kBool,   Kind::kBool,   Kind::kNumber,
                                      Kind::kNumber, Kind::kNumber, Kind::kString, Kind::kString,
                                      Kind::kArray,  Kind::kObject, Kind::kArray,  Kind::kObject};
    return kKinds[static_cast<std::uint8_t>(tag())];
  }
  bool is_null() const noexcept { return tag() == PackedTag::kNull; }
  bool is_bool() const noexcept { return kind() == Kind::kBool; }
  bool is_number() const noexcept { return kind() == Kind::kNumber; }
  bool is_string() const noexcept { return kind() == Kind::kString; }
  bool is_array() const noexcept { return kind() == Kind::kArray; }
  bool is_object() const noexcept { return kind() == Kind::kObject; }

  // Each accessor requires the matching kind.
  bool as_bool() const noexcept { return tag() == PackedTag::kTrue; }
  Number as_number() const noexcept {
    auto form = static_cast<Number::Form>(static_cast<std::uint8_t>(tag()) -
                                          static_cast<std::uint8_t>(PackedTag::kUnsigned));
    return Number::from_parts(form, packed::load_u64(p_ + 1));
  }
  std::string_view as_string() const noexcept {
    if (tag() == PackedTag::kShortString) return {p_ + 2, static_cast<unsigned char>(p_[1])};
    return {p_ + 5, packed::load_u32(p_ + 1)};
  }
  inline PackedArray as_array() const noexcept;
  inline PackedObject as_object() const noexcept;

  friend bool operator==(PackedValue a, PackedValue b) noexcept;
  friend bool operator==(PackedValue a, const Value& b) noexcept;

 private:
  const char* p_;
};

// The elements of a packed array, stepped through in order.
class PackedArray {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = PackedValue;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = PackedValue;

    iterator() noexcept = default;
    explicit iterator(const char* p) noexcept : p_(p) {}
    PackedValue operator*() const noexcept { return PackedValue(p_); }
    const char* data() const noexcept { return p_; }
    iterator& operator++() noexcept {
      p_ += packed::value_size(p_);
      return *this;
    }
    iterator operator++(int) noexcept {
      iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(iterator a, iterator b) noexcept { return a.p_ == b.p_; }

   private:
    const char* p_ = nullptr;
  };
  using const_iterator = iterator;

  // `header` is the array's tag byte.
  explicit PackedArray(const char* header) noexcept : header_(header) {}

  const char* data() const noexcept { return header_; }
  std::size_t size() const noexcept { return packed::container_body(header_).count; }
  bool empty() const noexcept { return size() == 0; }
  iterator begin() const noexcept { return iterator(packed::container_body(header_).begin); }
  iterator end() const noexcept { return iterator(packed::container_body(header_).end); }
  // Steps over the elements before it: O(i).
  PackedValue operator[](std::size_t i) const noexcept {
    iterator it = begin();
    std::advance(it, static_cast<std::ptrdiff_t>(i));
    return *it;
  }

 private:
  const char* header_;
};

// One member of a packed object, as an Object::Member reads: `key`, then `value`.
struct PackedMember {
  std::string_view key;
  PackedValue value;
};

// The members of a packed object, in ascending key order.
class PackedObject {
 public:
  // Reads each member's key once, on arriving at it.
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = PackedMember;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = PackedMember;

    iterator() noexcept = default;
    iterator(const char* p, const char* end) noexcept : p_(p), end_(end) { arrive(); }
    PackedMember operator*() const noexcept { return {key_, PackedValue(value_)}; }
    iterator& operator++() noexcept {
      p_ = value_ + packed::value_size(value_);
      arrive();
      return *this;
    }
    iterator operator++(int) noexcept {
      iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const iterator& a, const iterator& b) noexcept { return a.p_ == b.p_; }

   private:
    void arrive() noexcept {
      if (p_ != end_) key_ = packed::member_key(p_, value_);
    }

    const char* p_ = nullptr;
    const char* end_ = nullptr;
    const char* value_ = nullptr;
    std::string_view key_;
  };
  using const_iterator = iterator;

  // `header` is the object's tag byte.
  explicit PackedObject(const char* header) noexcept : header_(header) {}

  const char* data() const noexcept { return header_; }
  std::size_t size() const noexcept { return packed::container_body(header_).count; }
  bool empty() const noexcept { return size() == 0; }
  iterator begin() const noexcept { return iterator(body(), body_end()); }
  iterator end() const noexcept { return iterator(body_end(), body_end()); }

  // The value of `key`, if present. Reads the keys before it, not their values.
  std::optional<PackedValue> find(std::string_view key) const noexcept {
    packed::ContainerBody members = packed::container_body(header_);
    const char* p = members.begin;
    const char* end = members.end;
    while (p != end) {
      const char* value;
      std::string_view candidate = packed::member_key(p, value);
      // The first byte rules out nearly every other key of the same length without a call.
      if (candidate.size() == key.size() &&
          (key.empty() || (candidate[0] == key[0] &&
                           std::memcmp(candidate.data(), key.data(), key.size()) == 0))) {
        return PackedValue(value);
      }
      p = value + packed::value_size(value);
    }
    return std::nullopt;
  }

  const char* body() const noexcept { return packed::container_body(header_).begin; }
  const char* body_end() const noexcept { return packed::container_body(header_).end; }

 private:
  const char* header_;
};

inline PackedArray PackedValue::as_array() const noexcept { return PackedArray(p_); }
inline PackedObject PackedValue::as_object() const noexcept { return PackedObject(p_); }

// A growing run of bytes, the packed form's workspace: packed values are written to its end.
// Grows geometrically; never shrinks until released.
class PackedBuffer {
 public:
  PackedBuffer() noexcept = default;
  PackedBuffer(PackedBuffer&& other) noexcept
      : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  PackedBuffer& operator=(PackedBuffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  PackedBuffer(const PackedBuffer&) = delete;
  PackedBuffer& operator=(const PackedBuffer&) = delete;
  ~PackedBuffer() { std::free(data_); }

  char* data() noexcept { return data_; }
  const char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }

  // `n` more bytes at the end, uninitialised; the pointer lives until the buffer next grows.
  // Throws std::bad_alloc.
  char* extend(std::size_t n) {
    if (n > capacity_ - size_) grow(n);
    char* at = data_ + size_;
    size_ += n;
    return at;
  }
  void append(const char* bytes, std::size_t n) { std::memcpy(extend(n), bytes, n); }
  void truncate(std::size_t size) noexcept { size_ = size; }
  void clear() noexcept { size_ = 0; }
  void reserve(std::size_t capacity) {
    if (capacity > capacity_) grow(capacity - size_);
  }
  // Gives back the capacity beyond the size, when the allocator can. The bytes may move.
  void shrink_to_fit() noexcept;

 private:
  void grow(std::size_t more);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Appends the packed form of `value` to `out`. Throws std::bad_alloc, and leaves `out` as it was.
void pack(const Value& value, PackedBuffer& out);
// The packed size of `value`, in bytes.
std::size_t packed_size(const Value& value) noexcept;
// The Value that `packed` holds. Throws std::bad_alloc.
Value unpack(PackedValue packed);

}  // namespace zarvel
