#include "value/packed_builder.h"

#include <algorithm>

#include "value/small_copy.h"

namespace zarvel {

namespace {

// a < b as byte strings, compared inline: keys are short, and many share their first bytes.
[[gnu::always_inline]] inline bool before(std::string_view a, std::string_view b) noexcept {
  std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

}  // namespace

void PackedBuilder::add_string(std::string_view s) {
  if (s.size() <= packed::kMaxShortLength) {
    char* p = out_.extend(2 + s.size());
    p[0] = static_cast<char>(PackedTag::kShortString);
    p[1] = static_cast<char>(s.size());
    copy_bytes(p + 2, s.data(), s.size());
  } else {
    char* p = out_.extend(5 + s.size());
    p[0] = static_cast<char>(PackedTag::kString);
    packed::store_u32(p + 1, static_cast<std::uint32_t>(s.size()));
    std::memcpy(p + 5, s.data(), s.size());
  }
  count_one();
}

void PackedBuilder::begin(PackedTag tag) {
  count_one();
  std::size_t header = out_.size();
  *out_.extend(packed::kContainerHeaderSize) = static_cast<char>(tag);
  open_.push_back(Open{header});
}

void PackedBuilder::add_key(std::string_view key) {
  Open& object = open_.back();
  std::size_t at;
  if (key.size() < packed::kLongKey) {
    char* p = out_.extend(1 + key.size());
    p[0] = static_cast<char>(key.size());
    copy_bytes(p + 1, key.data(), key.size());
    at = out_.size() - key.size();
  } else {
    char* p = out_.extend(5 + key.size());
    p[0] = static_cast<char>(packed::kLongKey);
    packed::store_u32(p + 1, static_cast<std::uint32_t>(key.size()));
    std::memcpy(p + 5, key.data(), key.size());
    at = out_.size() - key.size();
  }
  if (object.count > 0 && object.in_order) {
    std::string_view last(out_.data() + object.last_key, object.last_key_size);
    object.in_order = before(last, key);
  }
  object.last_key = at;
  object.last_key_size = key.size();
  ++object.count;
}

void PackedBuilder::end() noexcept {
  Open& open = open_.back();
  char* header = out_.data() + open.header;
  std::size_t body = out_.size() - open.header - packed::kContainerHeaderSize;
  if (body <= packed::kMaxSmallContainer && open.count <= packed::kMaxSmallContainer) {
    // Most containers are small: their body moves up behind the short header.
    constexpr std::size_t kSaved = packed::kContainerHeaderSize - packed::kSmallContainerHeaderSize;
    header[0] = static_cast<char>(static_cast<std::uint8_t>(header[0]) + 2);  // the small tag
    header[1] = static_cast<char>(body);
    header[2] = static_cast<char>(open.count);
    std::memmove(header + packed::kSmallContainerHeaderSize, header + packed::kContainerHeaderSize,
                 body);
    out_.truncate(out_.size() - kSaved);
  } else {
    packed::store_u32(header + 1, static_cast<std::uint32_t>(body));
    packed::store_u32(header + 5, open.count);
  }
  open_.pop_back();
}

void PackedBuilder::end_object() {
  if (!open_.back().in_order) sort_members(open_.back());
  end();
}

void PackedBuilder::sort_members(Open& object) {
  std::size_t body = object.header + packed::kContainerHeaderSize;
  spans_.clear();
  for (const char* p = out_.data() + body; p != out_.data() + out_.size();) {
    const char* value;
    std::string_view key = packed::member_key(p, value);
    const char* end = value + packed::value_size(value);
    spans_.push_back(Span{key, static_cast<std::size_t>(p - out_.data()),
                          static_cast<std::size_t>(end - out_.data())});
    p = end;
  }
  // Stable, so equal keys stay in the order given and the last of each run is the one kept.
  // Objects are small as a rule: an insertion sort then allocates nothing and wins.
  auto by_key = [](const Span& a, const Span& b) { return before(a.key, b.key); };
  if (spans_.size() <= 32) {
    for (std::size_t i = 1; i < spans_.size(); ++i) {
      Span moving = spans_[i];
      std::size_t j = i;
      for (; j > 0 && by_key(moving, spans_[j - 1]); --j) spans_[j] = spans_[j - 1];
      spans_[j] = moving;
    }
  } else {
    std::stable_sort(spans_.begin(), spans_.end(), by_key);
  }
  scratch_.clear();
  std::uint32_t kept = 0;
  for (std::size_t i = 0; i < spans_.size(); ++i) {
    if (i + 1 < spans_.size() && spans_[i + 1].key == spans_[i].key) continue;
    std::size_t size = spans_[i].end - spans_[i].begin;
    copy_bytes(scratch_.extend(size), out_.data() + spans_[i].begin, size);
    ++kept;
  }
  std::memcpy(out_.data() + body, scratch_.data(), scratch_.size());
  out_.truncate(body + scratch_.size());
  object.count = kept;
}

}  // namespace zarvel
