#include "value/value.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace zarvel {

Number Number::from_float(double d) noexcept {
  return Number(Form::kFloat, std::bit_cast<std::uint64_t>(d));
}

double Number::as_float() const noexcept { return std::bit_cast<double>(bits_); }

double Number::to_double() const noexcept {
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

bool operator==(const Number& a, const Number& b) noexcept {
  if (a.form_ != b.form_) return false;
  if (a.form_ == Number::Form::kFloat) return a.as_float() == b.as_float();
  return a.bits_ == b.bits_;
}

Value::Value(std::string_view s) : kind_(Kind::kString) {
  payload_.bits = 0;
  if (s.size() <= kInlineCapacity) {
    aux_ = static_cast<std::uint8_t>(s.size());
    if (!s.empty()) std::memcpy(inline_data(), s.data(), s.size());
    return;
  }
  aux_ = kHeapStringTag;
  void* block = ::operator new(sizeof(HeapString) + s.size());
  payload_.string = new (block) HeapString{s.size()};
  std::memcpy(payload_.string->data(), s.data(), s.size());
}

Value::Value(Array&& a) : kind_(Kind::kArray), aux_(0) { payload_.array = new Array(std::move(a)); }

Value::Value(Object&& o) : kind_(Kind::kObject), aux_(0) {
  payload_.object = new Object(std::move(o));
}

Value::Value(const Value& other) : kind_(Kind::kNull), aux_(0) { copy_from(other); }

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    if (kind_ >= Kind::kString) release();
    kind_ = other.kind_;
    aux_ = other.aux_;
    copy_raw(other);
    other.kind_ = Kind::kNull;
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
      payload_.array = new Array(*other.payload_.array);
      kind_ = Kind::kArray;
      return;
    case Kind::kObject:
      payload_.object = new Object(*other.payload_.object);
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
      delete payload_.array;
      break;
    case Kind::kObject:
      delete payload_.object;
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

bool operator==(const Value& a, const Value& b) noexcept {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Kind::kNull:
      return true;
    case Kind::kBool:
      return a.as_bool() == b.as_bool();
    case Kind::kNumber:
      return a.as_number() == b.as_number();
    case Kind::kString:
      return a.as_string() == b.as_string();
    case Kind::kArray:
      return a.as_array() == b.as_array();
    case Kind::kObject:
      return a.as_object() == b.as_object();
  }
  return false;
}

namespace {

constexpr std::size_t kLinearFindLimit = 16;
constexpr std::size_t kInsertionSortLimit = 32;

// Byte order; most neighbouring keys already differ in their first byte.
bool key_less(std::string_view a, std::string_view b) noexcept {
  if (!a.empty() && !b.empty() && a[0] != b[0]) {
    return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
  }
  return a < b;
}

bool member_key_less(const Object::Member& m, std::string_view key) noexcept {
  return key_less(m.key.view(), key);
}

}  // namespace

Object Object::from_members(std::vector<Member>&& members) {
  Object object;
  object.members_ = std::move(members);
  auto& v = object.members_;
  // Writers (ours included) usually emit keys already sorted: check before sorting.
  bool strictly_sorted = true;
  for (std::size_t i = 1; i < v.size() && strictly_sorted; ++i) {
    strictly_sorted = key_less(v[i - 1].key, v[i].key);
  }
  if (strictly_sorted) return object;
  auto by_key = [](const Member& a, const Member& b) { return key_less(a.key, b.key); };
  if (v.size() <= kInsertionSortLimit) {
    // In place and stable, without the temporary buffer std::stable_sort allocates.
    for (std::size_t i = 1; i < v.size(); ++i) {
      if (!by_key(v[i], v[i - 1])) continue;
      Member moving = std::move(v[i]);
      std::size_t j = i;
      for (; j > 0 && by_key(moving, v[j - 1]); --j) v[j] = std::move(v[j - 1]);
      v[j] = std::move(moving);
    }
  } else {
    std::stable_sort(v.begin(), v.end(), by_key);
  }
  // Among equal keys the last given wins: keep the last of each run.
  std::size_t out = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i + 1 < v.size() && v[i].key == v[i + 1].key) continue;
    if (out != i) v[out] = std::move(v[i]);
    ++out;
  }
  v.resize(out);
  return object;
}

Object::const_iterator Object::lower_bound(std::string_view key) const noexcept {
  return std::lower_bound(members_.begin(), members_.end(), key, member_key_less);
}

const Value* Object::find(std::string_view key) const noexcept {
  // Documents mostly hold a handful of members: comparing lengths first over a short run is
  // cheaper than a binary search's unpredictable branches and full comparisons.
  if (members_.size() <= kLinearFindLimit) {
    for (const Member& member : members_) {
      if (member.key.equals(key)) return &member.value;
    }
    return nullptr;
  }
  auto it = lower_bound(key);
  if (it == members_.end() || !it->key.equals(key)) return nullptr;
  return &it->value;
}

Value* Object::find(std::string_view key) noexcept {
  return const_cast<Value*>(static_cast<const Object*>(this)->find(key));
}

void Object::insert_or_assign(std::string_view key, Value value) {
  auto it = members_.begin() + (lower_bound(key) - members_.cbegin());
  if (it != members_.end() && it->key.equals(key)) {
    it->value = std::move(value);
    return;
  }
  members_.insert(it, Member{Key(key), std::move(value)});
}

bool Object::erase(std::string_view key) {
  auto it = lower_bound(key);
  if (it == members_.end() || !it->key.equals(key)) return false;
  members_.erase(it);
  return true;
}

const Value* get(const Value& value, std::string_view key) noexcept {
  if (!value.is_object()) return nullptr;
  return value.as_object().find(key);
}

}  // namespace zarvel
