// A set of Unicode code points for the regular-expression engine: sorted, disjoint inclusive
// ranges, built once when a pattern is compiled and then only read.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zarvel::regex_detail {

inline constexpr char32_t kMaxCodePoint = 0x10FFFF;

class CharSet {
 public:
  struct Range {
    char32_t lo;
    char32_t hi;
  };

  CharSet() = default;
  static CharSet of(char32_t c) {
    CharSet set;
    set.ranges_.push_back({c, c});
    return set;
  }

  // Both keep the ranges sorted, disjoint and apart (two ranges never touch).
  void add(char32_t lo, char32_t hi);
  void add(const CharSet& other);

  // Every code point up to U+10FFFF that is not in the set.
  CharSet complement() const;
  bool contains(char32_t c) const noexcept;
  // The one code point of a set of one.
  std::optional<char32_t> single() const noexcept;
  const std::vector<Range>& ranges() const noexcept { return ranges_; }
  bool operator==(const CharSet& other) const noexcept;

 private:
  std::vector<Range> ranges_;
};

}  // namespace zarvel::regex_detail
