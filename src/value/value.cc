#include "value/value.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "value/limits.h"
#include "value/same_value.h"
#include "value/small_copy.h"

namespace zarvel {

bool operator==(const Number& a, const Number& b) noexcept {
  if (a.form_ != b.form_) return false;
  if (a.form_ == Number::Form::kFloat) return a.as_float() == b.as_float();
  return a.bits_ == b.bits_;
}

Value::Value(std::string_view s) : kind_(Kind::kString), inline_head_{} {
  payload_.bits = 0;
  if (s.size() <= kInlineStringCapacity) {
    aux_ = static_cast<std::uint8_t>(s.size());
    copy_small(inline_data(), s.data(), s.size());
    return;
  }
  aux_ = kHeapStringTag;
  void* block = ::operator new(sizeof(HeapString) + s.size());
  payload_.string = new (block) HeapString{s.size()};
  std::memcpy(payload_.string->data(), s.data(), s.size());
}

Value::Value(Array&& a) : kind_(Kind::kArray), aux_(0), inline_head_{} {
  new (&payload_.array) Array(std::move(a));
}

Value::Value(Object&& o) : kind_(Kind::kObject), aux_(0), inline_head_{} {
  new (&payload_.object) Object(std::move(o));
}

Value::Value(const Value& other) : kind_(Kind::kNull), aux_(0) { copy_from(other); }

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void Value::copy_from(const Value& other) {
  switch (other.kind_) {
    case Kind::kString:
      if (other.aux_ == kHeapStringTag) {
        new (this) Value(other.as_string());
        return;
      }
      break;
    case Kind::kArray:
      new (&payload_.array) Array(other.payload_.array);
      kind_ = Kind::kArray;
      return;
    case Kind::kObject:
      new (&payload_.object) Object(other.payload_.object);
      kind_ = Kind::kObject;
      return;
    default:
      break;
  }
  kind_ = other.kind_;
  aux_ = other.aux_;
  copy_raw(other);
}

void Value::release() noexcept {
  switch (kind_) {
    case Kind::kString:
      if (aux_ == kHeapStringTag) ::operator delete(payload_.string);
      break;
    case Kind::kArray:
      payload_.array.~Array();
      break;
    case Kind::kObject:
      payload_.object.~Object();
      break;
    default:
      break;
  }
  kind_ = Kind::kNull;
}

std::string_view Value::as_string() const noexcept {
  if (aux_ == kHeapStringTag) return {payload_.string->data(), payload_.string->size};
  return {inline_data(), aux_};
}

bool operator==(const Value& a, const Value& b) noexcept { return same_value(a, b); }

int nesting_depth(const Value& value) noexcept {
  int deepest = 0;
  if (value.is_array()) {
    for (const Value& element : value.as_array())
      deepest = std::max(deepest, nesting_depth(element));
  } else if (value.is_object()) {
    for (const Object::Member& member : value.as_object()) {
      deepest = std::max(deepest, nesting_depth(member.value));
    }
  } else {
    return 0;
  }
  return deepest + 1;
}

}  // namespace zarvel
