// The member keys of one conversion call paired with their str objects, both ways: the documents
// of a call mostly share their keys, so each key is read from a str, or made into one, once.
// Direct-mapped: a colliding entry simply replaces the slot's. Each slot holds its str, so the
// address of a remembered str cannot be taken by another object while the table lives.
#pragma once

#include <Python.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "python/py_ref.h"
#include "value/key.h"
#include "value/small_copy.h"

namespace zarvel {

class KeyTable {
 public:
  // Starts with `slot_count` slots (a power of two), and grows up to `most_slots` as keys miss:
  // the slots are cleared when made and released when they go, which costs more than a small
  // conversion when there are many.
  explicit KeyTable(std::size_t slot_count, std::size_t most_slots)
      : mask_(slot_count - 1), most_slots_(most_slots), slots_(new Slot[slot_count]) {}
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;

  // Python to value: the key made before from this very str object, or null.
  const Key* key_of(PyObject* str) const noexcept {
    const Slot& slot = slots_[by_address(str)];
    return slot.str.get() == str ? &slot.key : nullptr;
  }
  // Remembers short keys of exact str objects only: those copy as 16 bytes, and releasing an
  // exact str that a colliding key pushes out runs no Python code in the middle of a conversion.
  void remember_key(PyObject* str, const Key& key) {
    if (!PyUnicode_CheckExact(str) || key.size() > Key::kInlineCapacity) return;
    Slot& slot = slots_[by_address(str)];
    slot.str = PyRef::borrow(str);
    slot.key = key;
  }

  // Value to Python: a str made before for `key` (borrowed), or null. A short key, nearly every
  // one, is looked up by the two words of its inline form.
  PyObject* str_of(std::string_view key) const noexcept {
    if (key.size() <= Key::kInlineCapacity) {
      Key::Words words = Key::inline_words(key);
      const Slot& slot = slots_[by_words(words)];
      return slot.str && slot.key.words() == words ? slot.str.get() : nullptr;
    }
    if (key.size() > kMaxStrKeySize) return nullptr;
    const Slot& slot = slots_[by_bytes(key)];
    return slot.str && same_bytes(slot.key.view(), key) ? slot.str.get() : nullptr;
  }
  void remember_str(std::string_view key, PyObject* str) {
    if (key.size() > kMaxStrKeySize) return;
    if (++misses_ > 2 * (mask_ + 1)) grow();
    Slot& slot = slots_[key.size() <= Key::kInlineCapacity ? by_words(Key::inline_words(key))
                                                           : by_bytes(key)];
    slot.str = PyRef::borrow(str);
    slot.key = Key(key);
  }

 private:
  // Four times the slots, empty, once misses show the keys do not fit; kept as it is when memory
  // is short.
  void grow() noexcept {
    misses_ = 0;
    std::size_t slots = 4 * (mask_ + 1);
    if (slots > most_slots_) return;
    std::unique_ptr<Slot[]> grown(new (std::nothrow) Slot[slots]);
    if (!grown) return;
    slots_ = std::move(grown);
    mask_ = slots - 1;
  }

  // Longer keys are rare and dear to compare; they are made afresh.
  static constexpr std::size_t kMaxStrKeySize = 64;

  struct Slot {
    PyRef str;
    Key key;
  };

  // Objects are 16-byte aligned; the higher bits spread neighbouring allocations.
  std::size_t by_address(PyObject* str) const noexcept {
    auto address = reinterpret_cast<std::uintptr_t>(str);
    return static_cast<std::size_t>((address >> 4) ^ (address >> 10)) & mask_;
  }

  std::size_t by_words(Key::Words words) const noexcept {
    std::uint64_t h = (words.low ^ (words.high * 0x9E3779B97F4A7C15ULL)) * 0xFF51AFD7ED558CCDULL;
    return static_cast<std::size_t>(h >> 40) & mask_;
  }

  // Mixes the length with the first and last (up to) eight bytes: keys that share a prefix, like
  // "field_1" and "field_2", differ at the end.
  std::size_t by_bytes(std::string_view key) const noexcept {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::size_t size = key.size();
    if (size >= 8) {
      std::memcpy(&head, key.data(), 8);
      std::memcpy(&tail, key.data() + size - 8, 8);
    } else {
      char bytes[8] = {};
      copy_small(bytes, key.data(), size);
      std::memcpy(&head, bytes, 8);
    }
    std::uint64_t h = (size + 1) * 0x9E3779B97F4A7C15ULL;
    h = (h ^ head) * 0xFF51AFD7ED558CCDULL;
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 29;
    return static_cast<std::size_t>(h) & mask_;
  }

  // Keys are short: compared without a call.
  static bool same_bytes(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    if (a.size() > 16) return std::memcmp(a.data(), b.data(), a.size()) == 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }

  std::size_t mask_;
  std::size_t most_slots_;
  std::size_t misses_ = 0;
  std::unique_ptr<Slot[]> slots_;
};

}  // namespace zarvel
