// The two things a conversion from Python builds: a Value tree, or a packed value written straight
// into a buffer. The converter walks Python objects once and hands each value to its output through
// the same calls, so both forms accept, refuse and order everything alike.
//
// An output names a Slot, the place one value goes: a container hands out a slot for each of its
// values, and the value converted next fills it.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/key_table.h"
#include "value/packed.h"
#include "value/packed_builder.h"
#include "value/value.h"

namespace zarvel {

// Builds Values: a slot is the Value to assign.
class ValueOutput {
 public:
  using Slot = Value&;
  using MemberKey = Key;

  ValueOutput() = default;
  ValueOutput(const ValueOutput&) = delete;
  ValueOutput& operator=(const ValueOutput&) = delete;

  static void put_null(Value& slot) noexcept { slot = Value(); }
  static void put_bool(Value& slot, bool b) noexcept { slot = Value(b); }
  static void put_number(Value& slot, Number n) noexcept { slot = Value(n); }
  static void put_string(Value& slot, std::string_view s) { slot = Value(s); }

  // The key made before from this very str object, if any.
  bool known_key(PyObject* str, Key& out) const {
    const Key* known = keys_.key_of(str);
    if (known == nullptr) return false;
    out = *known;
    return true;
  }
  // The key of `str`, whose UTF-8 bytes are `text`.
  Key make_key(PyObject* str, std::string_view text) {
    Key key(text);
    keys_.remember_key(str, key);
    return key;
  }

  class ArrayWriter {
   public:
    ArrayWriter(ValueOutput&, Value& slot, std::size_t reserve) : slot_(slot) {
      items_.reserve(reserve);
    }
    Value& next() { return items_.emplace_back(); }
    void finish() { slot_ = Value(std::move(items_)); }

   private:
    Value& slot_;
    Array items_;
  };

  // The members of the objects being built, innermost last: one growing buffer serves every
  // object of a call, and each object's block is then built at its exact size. A member is held
  // aside while its value is converted, since nested objects grow the buffer meanwhile.
  class ObjectWriter {
   public:
    ObjectWriter(ValueOutput& output, Value& slot)
        : slot_(slot), stack_(output.members_), base_(stack_.size()) {}
    ObjectWriter(const ObjectWriter&) = delete;
    ObjectWriter& operator=(const ObjectWriter&) = delete;
    ~ObjectWriter() { stack_.resize(base_); }

    Value& begin_member(Key&& key) {
      key_ = std::move(key);
      value_ = Value();
      return value_;
    }
    void end_member() { stack_.push_back(Object::Member{std::move(key_), std::move(value_)}); }
    void finish() {
      slot_ = Value(Object::from_members(stack_.data() + base_, stack_.data() + stack_.size()));
    }

   private:
    Value& slot_;
    std::vector<Object::Member>& stack_;
    std::size_t base_;
    Key key_;
    Value value_;
  };

 private:
  std::vector<Object::Member> members_;
  KeyTable keys_{64, 64};
};

// The packed output's slots carry nothing: every value is appended where the builder stands.
struct PackedSlot {};

// Writes a packed value through a PackedBuilder. A failed conversion leaves containers open; the
// caller truncates the buffer back.
class PackedOutput {
 public:
  using Slot = PackedSlot;
  // Borrowed from the key's str, and written out before any Python code can run.
  using MemberKey = std::string_view;

  explicit PackedOutput(PackedBuffer& out) : builder_(out) {}

  void put_null(PackedSlot) { builder_.add_null(); }
  void put_bool(PackedSlot, bool b) { builder_.add_bool(b); }
  void put_number(PackedSlot, Number n) { builder_.add_number(n); }
  void put_string(PackedSlot, std::string_view s) { builder_.add_string(s); }

  // A str's UTF-8 bytes are read in place, so there is nothing to remember.
  static bool known_key(PyObject*, std::string_view&) noexcept { return false; }
  static std::string_view make_key(PyObject*, std::string_view text) noexcept { return text; }

  class ArrayWriter {
   public:
    ArrayWriter(PackedOutput& output, PackedSlot, std::size_t) : builder_(output.builder_) {
      builder_.begin_array();
    }
    PackedSlot next() noexcept { return {}; }
    void finish() noexcept { builder_.end_array(); }

   private:
    PackedBuilder& builder_;
  };

  class ObjectWriter {
   public:
    ObjectWriter(PackedOutput& output, PackedSlot) : builder_(output.builder_) {
      builder_.begin_object();
    }
    PackedSlot begin_member(std::string_view key) {
      builder_.add_key(key);
      return {};
    }
    void end_member() noexcept {}
    void finish() { builder_.end_object(); }

   private:
    PackedBuilder& builder_;
  };

 private:
  PackedBuilder builder_;
};

}  // namespace zarvel
