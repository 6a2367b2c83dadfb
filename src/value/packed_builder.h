// Writes packed values piece by piece, as a reader or a conversion meets them, straight into a
// PackedBuffer: no Value tree in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "value/packed.h"

namespace zarvel {

// Values are added in document order: a scalar, or begin_array/begin_object, the contents, and
// the matching end. Inside an object each value follows its add_key. Members may come in any
// order and a key more than once: end_object puts them in key order, the last of equal keys
// kept, as Object::from_members does. Every call may throw std::bad_alloc; the buffer then holds
// a partial value, which the caller drops by truncating it back.
class PackedBuilder {
 public:
  explicit PackedBuilder(PackedBuffer& out) noexcept : out_(out) {}
  PackedBuilder(const PackedBuilder&) = delete;
  PackedBuilder& operator=(const PackedBuilder&) = delete;

  void add_null() { put_tag(PackedTag::kNull); }
  void add_bool(bool b) { put_tag(b ? PackedTag::kTrue : PackedTag::kFalse); }
  void add_number(Number number) {
    packed::write_number(out_.extend(packed::kNumberSize), number);
    count_one();
  }
  void add_string(std::string_view s);

  void begin_array() { begin(PackedTag::kArray); }
  void end_array() { end(); }
  void begin_object() { begin(PackedTag::kObject); }
  void add_key(std::string_view key);
  void end_object();

  // How many arrays and objects are open.
  std::size_t depth() const noexcept { return open_.size(); }
  // Forgets the open containers, as after a failure; the buffer is the caller's to truncate.
  void reset() noexcept { open_.clear(); }

 private:
  struct Open {
    std::size_t header;        // offset of the tag byte in the buffer
    std::uint32_t count = 0;   // elements or members so far
    bool in_order = true;      // every key above the one before it
    std::size_t last_key = 0;  // offset of the last key's bytes
    std::size_t last_key_size = 0;
  };
  // Where one member lies in the buffer, for reordering.
  struct Span {
    std::string_view key;
    std::size_t begin;
    std::size_t end;
  };

  void put_tag(PackedTag tag) {
    *out_.extend(1) = static_cast<char>(tag);
    count_one();
  }
  // An element of an open array counts when added; a member counts at its key.
  void count_one() noexcept {
    if (!open_.empty() && packed::tag_at(out_.data() + open_.back().header) == PackedTag::kArray)
      ++open_.back().count;
  }
  void begin(PackedTag tag);
  // Closes the innermost container: its body length and count go into its header.
  void end() noexcept;
  // Puts the members of the object being closed into key order, dropping all but the last of
  // equal keys.
  void sort_members(Open& object);

  PackedBuffer& out_;
  std::vector<Open> open_;
  std::vector<Span> spans_;  // kept between objects, like scratch_, to reuse their memory
  PackedBuffer scratch_;
};

}  // namespace zarvel
