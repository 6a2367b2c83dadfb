// The document value: a JSON value held in memory. Every stored document, query and update
// document is one. A Value is 16 bytes; strings of up to 14 bytes live inside it, longer strings,
// arrays and objects on the heap. A value owns its whole tree: copying is a deep copy.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "value/key.h"

namespace zarvel {

// The numbers of the kinds are part of the result-cache key: keep them.
enum class Kind : std::uint8_t {
  kNull = 0,
  kBool = 1,
  kNumber = 2,
  kString = 3,
  kArray = 4,
  kObject = 5
};

// A JSON number in one of three forms. An integer of value zero or more is always kUnsigned, a
// negative integer always kNegative, so equal integers share a form; a float is never equal to an
// integer (1 and 1.0 differ).
class Number {
 public:
  enum class Form : std::uint8_t { kUnsigned = 0, kNegative = 1, kFloat = 2 };

  static Number from_unsigned(std::uint64_t u) noexcept { return Number(Form::kUnsigned, u); }
  // `i` must be below zero.
  static Number from_negative(std::int64_t i) noexcept {
    return Number(Form::kNegative, static_cast<std::uint64_t>(i));
  }
  static Number from_int64(std::int64_t i) noexcept {
    return i < 0 ? from_negative(i) : from_unsigned(static_cast<std::uint64_t>(i));
  }
  static Number from_float(double d) noexcept {
    return Number(Form::kFloat, std::bit_cast<std::uint64_t>(d));
  }
  // The number whose form and payload bits() are these, as a packed value stores them.
  static Number from_parts(Form form, std::uint64_t bits) noexcept { return Number(form, bits); }

  Form form() const noexcept { return form_; }
  bool is_float() const noexcept { return form_ == Form::kFloat; }
  std::uint64_t as_unsigned() const noexcept { return bits_; }
  std::int64_t as_negative() const noexcept { return static_cast<std::int64_t>(bits_); }
  double as_float() const noexcept { return std::bit_cast<double>(bits_); }
  // The nearest double, whatever the form. Inline: every ordering test of a scan asks for it.
  double to_double() const noexcept {
    switch (form_) {
      case Form::kUnsigned:
        return static_cast<double>(bits_);
      case Form::kNegative:
        return static_cast<double>(static_cast<std::int64_t>(bits_));
      case Form::kFloat:
        break;
    }
    return as_float();
  }
  // The raw 64 bits of the payload: the unsigned value, the two's complement, or the IEEE bits.
  std::uint64_t bits() const noexcept { return bits_; }

  friend bool operator==(const Number& a, const Number& b) noexcept;

 private:
  friend class Value;
  Number(Form form, std::uint64_t bits) noexcept : form_(form), bits_(bits) {}

  Form form_;
  std::uint64_t bits_;
};

class Value;

// A JSON array. Like an Object, an Array is one pointer to a single block holding the element
// count, the capacity and the elements: an array inside a Value costs one allocation. Copying is
// a deep copy. Throws std::bad_alloc beyond 2^32 - 1 elements.
class Array {
 public:
  using const_iterator = const Value*;
  using iterator = Value*;

  Array() noexcept = default;
  Array(std::initializer_list<Value> elements);
  explicit Array(const std::vector<Value>& elements);
  explicit Array(std::vector<Value>&& elements);
  Array(const Array& other);
  Array(Array&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  Array& operator=(const Array& other);
  Array& operator=(Array&& other) noexcept;
  ~Array() {
    if (block_ != nullptr) release();
  }

  // Moves the elements out of [first, last), leaving them moved-from.
  static Array from_elements(Value* first, Value* last);

  std::size_t size() const noexcept { return block_ == nullptr ? 0 : block_->size; }
  std::size_t capacity() const noexcept { return block_ == nullptr ? 0 : block_->capacity; }
  bool empty() const noexcept { return size() == 0; }
  const_iterator begin() const noexcept { return block_ == nullptr ? nullptr : block_->elements(); }
  const_iterator end() const noexcept;
  iterator begin() noexcept { return block_ == nullptr ? nullptr : block_->elements(); }
  iterator end() noexcept;
  const Value& operator[](std::size_t i) const noexcept;
  Value& operator[](std::size_t i) noexcept;

  void reserve(std::size_t capacity);
  // Appends a null element and returns it.
  Value& emplace_back();
  void push_back(Value value);
  // Destroys the elements from `size` on; the capacity stays.
  void truncate(std::size_t size) noexcept;
  void clear() noexcept { release(); }
  // Removes the elements for which `remove` holds, keeping the order of the rest; how many went.
  // Allocates nothing.
  template <class Predicate>
  std::size_t erase_if(Predicate remove) noexcept;

  friend bool operator==(const Array& a, const Array& b) noexcept;

 private:
  struct Block {
    std::uint32_t size;
    std::uint32_t capacity;
    Value* elements() noexcept { return reinterpret_cast<Value*>(this + 1); }
  };

  // A block for `capacity` elements holding the current ones, which are moved into it.
  void reallocate(std::size_t capacity);
  void release() noexcept;

  Block* block_ = nullptr;  // null until the first element
};

// A JSON object: members held in ascending byte order of their keys (unsigned byte comparison,
// a prefix before its extensions), each key once. An Object is one pointer to a single block
// holding the member count, the capacity and the members, so a document value inside a Value
// costs one allocation per object. Copying is a deep copy.
class Object {
 public:
  struct Member;
  using const_iterator = const Member*;
  using iterator = Member*;

  Object() noexcept = default;
  Object(const Object& other);
  Object(Object&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  Object& operator=(const Object& other);
  Object& operator=(Object&& other) noexcept;
  ~Object() {
    if (block_ != nullptr) release();
  }

  // Takes members in any order; for equal keys the one given last wins. The range form moves
  // the members out of [first, last) and leaves that range moved-from, perhaps reordered.
  static Object from_members(std::vector<Member>&& members);
  static Object from_members(Member* first, Member* last);

  std::size_t size() const noexcept;
  std::size_t capacity() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  const_iterator begin() const noexcept;
  const_iterator end() const noexcept;
  iterator begin() noexcept;
  iterator end() noexcept;
  const Member& front() const noexcept;

  // Null when absent. The pointer lives until the object is next changed.
  const Value* find(std::string_view key) const noexcept;
  Value* find(std::string_view key) noexcept;
  // Replaces the value of an existing key, else inserts in key order.
  void insert_or_assign(std::string_view key, Value value);
  // Returns whether the key was present.
  bool erase(std::string_view key);

  friend bool operator==(const Object& a, const Object& b) noexcept;

  // Asks the processor to start loading the first members. A scan over many documents calls it a
  // few documents ahead, so it does not wait on memory for each one in turn.
  void prefetch() const noexcept {
    const char* start = reinterpret_cast<const char*>(block_);
    for (int offset = 0; offset < 256; offset += 64) __builtin_prefetch(start + offset);
  }

 private:
  struct Block;

  // A block for `capacity` members of which the first `size` are taken to be built. Throws
  // std::bad_alloc, also beyond 2^32 - 1 members.
  static Block* allocate(std::size_t size, std::size_t capacity);
  const_iterator lower_bound(std::string_view key) const noexcept;
  // Makes room for one more member at `position`, which is left unconstructed.
  iterator open_gap(std::size_t position);
  void release() noexcept;

  Block* block_ = nullptr;  // null while empty
};

class Value {
 public:
  // The padding is zeroed too: moves copy all 16 bytes, and it costs nothing beside the payload.
  Value() noexcept : kind_(Kind::kNull), aux_(0), inline_head_{} { payload_.bits = 0; }
  explicit Value(bool b) noexcept : kind_(Kind::kBool), aux_(0), inline_head_{} {
    payload_.bits = b ? 1 : 0;
  }
  explicit Value(Number n) noexcept
      : kind_(Kind::kNumber), aux_(static_cast<std::uint8_t>(n.form_)), inline_head_{} {
    payload_.bits = n.bits_;
  }
  explicit Value(std::string_view s);
  explicit Value(Array&& a);
  explicit Value(Object&& o);

  Value(const Value& other);
  Value(Value&& other) noexcept : kind_(other.kind_), aux_(other.aux_) {
    copy_raw(other);
    other.kind_ = Kind::kNull;
  }
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      if (kind_ >= Kind::kString) release();
      kind_ = other.kind_;
      aux_ = other.aux_;
      copy_raw(other);
      other.kind_ = Kind::kNull;
    }
    return *this;
  }
  ~Value() {
    if (kind_ >= Kind::kString) release();
  }

  Kind kind() const noexcept { return kind_; }
  bool is_null() const noexcept { return kind_ == Kind::kNull; }
  bool is_bool() const noexcept { return kind_ == Kind::kBool; }
  bool is_number() const noexcept { return kind_ == Kind::kNumber; }
  bool is_string() const noexcept { return kind_ == Kind::kString; }
  bool is_array() const noexcept { return kind_ == Kind::kArray; }
  bool is_object() const noexcept { return kind_ == Kind::kObject; }

  // Each accessor requires the matching kind.
  bool as_bool() const noexcept { return payload_.bits != 0; }
  Number as_number() const noexcept {
    return Number(static_cast<Number::Form>(aux_), payload_.bits);
  }
  // The view lives as long as this value is neither changed nor destroyed.
  std::string_view as_string() const noexcept;
  const Array& as_array() const noexcept { return payload_.array; }
  Array& as_array() noexcept { return payload_.array; }
  const Object& as_object() const noexcept { return payload_.object; }
  Object& as_object() noexcept { return payload_.object; }

  // Whether copying this value allocates: a string too long to be held inline, or an array or
  // object that is not empty. A copy of any other value cannot fail.
  bool copy_allocates() const noexcept;

  friend bool operator==(const Value& a, const Value& b) noexcept;

  // Strings up to this length live inside the value.
  static constexpr std::size_t kInlineStringCapacity = 14;

 private:
  // Strings longer than kInlineStringCapacity: the length followed by the bytes, one allocation.
  struct HeapString {
    std::size_t size;
    char* data() noexcept { return reinterpret_cast<char*>(this + 1); }
  };
  static constexpr std::uint8_t kHeapStringTag = 0xFF;
  static constexpr std::size_t kInlineOffset = 2;

  void copy_raw(const Value& other) noexcept {
    std::memcpy(inline_head_, other.inline_head_, sizeof inline_head_);
    payload_.bits = other.payload_.bits;
  }
  void copy_from(const Value& other);
  void release() noexcept;
  // An inline string runs from inline_head_ on into the payload; addressed from the value's own
  // start so that the compiler sees the whole 14 bytes.
  char* inline_data() noexcept { return reinterpret_cast<char*>(this) + kInlineOffset; }
  const char* inline_data() const noexcept {
    return reinterpret_cast<const char*>(this) + kInlineOffset;
  }

  // Layout: kind, aux, then 14 bytes that are either an inline string (aux = its length) or six
  // bytes of padding followed by the 8-byte payload. aux also holds the number form, or
  // kHeapStringTag for a heap string.
  Kind kind_;
  std::uint8_t aux_;
  char inline_head_[6];
  union Payload {
    Payload() noexcept : bits(0) {}
    ~Payload() {}
    std::uint64_t bits;
    HeapString* string;
    Array array;  // the handles themselves: elements and members are one hop away
    Object object;
    char inline_tail[8];
  } payload_;
};

static_assert(sizeof(Value) == 16, "Value must stay 16 bytes");
static_assert(std::is_standard_layout_v<Value>, "inline strings are addressed by offset");

struct Object::Member {
  Key key;
  Value value;
  friend bool operator==(const Member& a, const Member& b) noexcept {
    return a.key == b.key && a.value == b.value;
  }
};

inline Array::const_iterator Array::end() const noexcept { return begin() + size(); }
inline Array::iterator Array::end() noexcept { return begin() + size(); }
inline const Value& Array::operator[](std::size_t i) const noexcept { return begin()[i]; }
inline Value& Array::operator[](std::size_t i) noexcept { return begin()[i]; }

inline Object::const_iterator Object::end() const noexcept { return begin() + size(); }
inline Object::iterator Object::end() noexcept { return begin() + size(); }
inline const Object::Member& Object::front() const noexcept { return *begin(); }

inline bool Value::copy_allocates() const noexcept {
  switch (kind_) {
    case Kind::kString:
      return aux_ == kHeapStringTag;
    case Kind::kArray:
      return !payload_.array.empty();
    case Kind::kObject:
      return !payload_.object.empty();
    default:
      return false;
  }
}

template <class Predicate>
std::size_t Array::erase_if(Predicate remove) noexcept {
  std::size_t before = size();
  truncate(static_cast<std::size_t>(std::remove_if(begin(), end(), remove) - begin()));
  return before - size();
}

}  // namespace zarvel
