// The member keys made from the str objects of one conversion call, found again by the identity of
// the str: the dicts of a list of documents mostly share their key objects (one literal, or
// interned), and a hit skips reading the str. Each remembered str is held, so its address cannot be
// taken by another object while the memo lives.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "value/key.h"

namespace zarvel {

class KeyMemo {
 public:
  KeyMemo() = default;
  KeyMemo(const KeyMemo&) = delete;
  KeyMemo& operator=(const KeyMemo&) = delete;
  ~KeyMemo() {
    for (Slot& slot : slots_) Py_XDECREF(slot.str);
  }

  // The key remembered for `str`, or null.
  const Key* find(PyObject* str) const noexcept {
    const Slot& slot = slots_[slot_index(str)];
    return slot.str == str ? &slot.key : nullptr;
  }

  // Remembers short keys of exact str objects only: those copy as 16 bytes, and releasing an
  // exact str that a colliding key pushes out runs no Python code in the middle of a conversion.
  void remember(PyObject* str, const Key& key) {
    if (!PyUnicode_CheckExact(str) || key.size() > Key::kInlineCapacity) return;
    Slot& slot = slots_[slot_index(str)];
    Py_XSETREF(slot.str, Py_NewRef(str));
    slot.key = key;
  }

 private:
  static constexpr std::size_t kSlotCount = 64;  // a power of two

  struct Slot {
    PyObject* str = nullptr;  // strong
    Key key;
  };

  // Objects are 16-byte aligned; the higher bits spread neighbouring allocations.
  static std::size_t slot_index(PyObject* str) noexcept {
    auto address = reinterpret_cast<std::uintptr_t>(str);
    return static_cast<std::size_t>((address >> 4) ^ (address >> 10)) & (kSlotCount - 1);
  }

  std::array<Slot, kSlotCount> slots_;
};

}  // namespace zarvel
