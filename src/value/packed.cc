#include "value/packed.h"

#include <algorithm>
#include <new>
#include <vector>

#include "value/same_value.h"

namespace zarvel {

namespace packed {

void write_number(char* p, Number number) noexcept {
  *p = static_cast<char>(static_cast<std::uint8_t>(PackedTag::kUnsigned) +
                         static_cast<std::uint8_t>(number.form()));
  store_u64(p + 1, number.bits());
}

}  // namespace packed

namespace {

using packed::kContainerHeaderSize;
using packed::kMaxShortLength;
using packed::store_u32;

char tag_byte(PackedTag tag) { return static_cast<char>(tag); }

std::size_t string_size(std::size_t length) { return (length <= kMaxShortLength ? 2 : 5) + length; }
std::size_t key_size(std::size_t length) { return (length < packed::kLongKey ? 1 : 5) + length; }

// Written into room already made, so nothing here can fail.
char* put_string(char* p, std::string_view s) {
  if (s.size() <= kMaxShortLength) {
    *p++ = tag_byte(PackedTag::kShortString);
    *p++ = static_cast<char>(s.size());
  } else {
    *p++ = tag_byte(PackedTag::kString);
    store_u32(p, static_cast<std::uint32_t>(s.size()));
    p += 4;
  }
  std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

char* put_key(char* p, std::string_view key) {
  if (key.size() < packed::kLongKey) {
    *p++ = static_cast<char>(key.size());
  } else {
    *p++ = static_cast<char>(packed::kLongKey);
    store_u32(p, static_cast<std::uint32_t>(key.size()));
    p += 4;
  }
  std::memcpy(p, key.data(), key.size());
  return p + key.size();
}

bool is_small(std::size_t body, std::size_t count) {
  return body <= packed::kMaxSmallContainer && count <= packed::kMaxSmallContainer;
}

std::size_t header_size(std::size_t body, std::size_t count) {
  return is_small(body, count) ? packed::kSmallContainerHeaderSize : kContainerHeaderSize;
}

// `tag` is kArray or kObject; the small form is chosen when the body and count allow it.
char* put_header(char* p, PackedTag tag, std::size_t body, std::size_t count) {
  if (is_small(body, count)) {
    *p = tag_byte(tag == PackedTag::kArray ? PackedTag::kSmallArray : PackedTag::kSmallObject);
    p[1] = static_cast<char>(body);
    p[2] = static_cast<char>(count);
    return p + packed::kSmallContainerHeaderSize;
  }
  *p = tag_byte(tag);
  store_u32(p + 1, static_cast<std::uint32_t>(body));
  store_u32(p + 5, static_cast<std::uint32_t>(count));
  return p + kContainerHeaderSize;
}

std::size_t body_size(const Value& value) noexcept {
  std::size_t body = 0;
  if (value.is_array()) {
    for (const Value& element : value.as_array()) body += packed_size(element);
  } else {
    for (const Object::Member& member : value.as_object())
      body += key_size(member.key.size()) + packed_size(member.value);
  }
  return body;
}

// Writes `value` at `p`, where its packed_size bytes are free; returns the end.
char* put_value(char* p, const Value& value) noexcept {
  switch (value.kind()) {
    case Kind::kNull:
      *p = tag_byte(PackedTag::kNull);
      return p + 1;
    case Kind::kBool:
      *p = tag_byte(value.as_bool() ? PackedTag::kTrue : PackedTag::kFalse);
      return p + 1;
    case Kind::kNumber:
      packed::write_number(p, value.as_number());
      return p + packed::kNumberSize;
    case Kind::kString:
      return put_string(p, value.as_string());
    case Kind::kArray:
      p = put_header(p, PackedTag::kArray, body_size(value), value.as_array().size());
      for (const Value& element : value.as_array()) p = put_value(p, element);
      return p;
    case Kind::kObject:
      p = put_header(p, PackedTag::kObject, body_size(value), value.as_object().size());
      for (const Object::Member& member : value.as_object()) {
        p = put_key(p, member.key.view());
        p = put_value(p, member.value);
      }
      return p;
  }
  return p;
}

}  // namespace

void PackedBuffer::grow(std::size_t more) {
  std::size_t wanted = std::max(size_ + more, std::max<std::size_t>(2 * capacity_, 256));
  if (wanted < size_) throw std::bad_alloc();  // overflow
  void* grown = std::realloc(data_, wanted);
  if (grown == nullptr) throw std::bad_alloc();
  data_ = static_cast<char*>(grown);
  capacity_ = wanted;
}

void PackedBuffer::shrink_to_fit() noexcept {
  if (size_ == capacity_ || size_ == 0) return;
  // The block may move; a failure keeps it as it was.
  if (void* shrunk = std::realloc(data_, size_)) {
    data_ = static_cast<char*>(shrunk);
    capacity_ = size_;
  }
}

std::size_t packed_size(const Value& value) noexcept {
  switch (value.kind()) {
    case Kind::kNull:
    case Kind::kBool:
      return 1;
    case Kind::kNumber:
      return packed::kNumberSize;
    case Kind::kString:
      return string_size(value.as_string().size());
    case Kind::kArray:
    case Kind::kObject:
      break;
  }
  std::size_t body = body_size(value);
  std::size_t count = value.is_array() ? value.as_array().size() : value.as_object().size();
  return header_size(body, count) + body;
}

void pack(const Value& value, PackedBuffer& out) {
  // Sized first (a second walk), so the bytes go straight to their place.
  char* at = out.extend(packed_size(value));
  put_value(at, value);
}

Value unpack(PackedValue packed) {
  switch (packed.kind()) {
    case Kind::kNull:
      return Value();
    case Kind::kBool:
      return Value(packed.as_bool());
    case Kind::kNumber:
      return Value(packed.as_number());
    case Kind::kString:
      return Value(packed.as_string());
    case Kind::kArray: {
      Array array;
      array.reserve(packed.as_array().size());
      for (PackedValue element : packed.as_array()) array.push_back(unpack(element));
      return Value(std::move(array));
    }
    case Kind::kObject:
      break;
  }
  std::vector<Object::Member> members;
  members.reserve(packed.as_object().size());
  for (PackedMember member : packed.as_object())
    members.push_back(Object::Member{Key(member.key), unpack(member.value)});
  return Value(Object::from_members(std::move(members)));
}

bool operator==(PackedValue a, PackedValue b) noexcept { return same_value(a, b); }
bool operator==(PackedValue a, const Value& b) noexcept { return same_value(a, b); }

}  // namespace zarvel
