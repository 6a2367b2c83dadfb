#include "query/regex_unicode.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace zarvel::regex_detail {
namespace {

struct CodeRange {
  char32_t lo;
  char32_t hi;
};
struct CasePairRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  char32_t step;
};
struct CaseGroup {
  char32_t members[4];
};

#include "query/regex_unicode_tables.inc"

CharSet set_of(std::span<const CodeRange> ranges) {
  CharSet set;
  for (const CodeRange& r : ranges) set.add(r.lo, r.hi);
  return set;
}

bool in_ranges(std::span<const CodeRange> ranges, char32_t c) noexcept {
  auto it = std::lower_bound(ranges.begin(), ranges.end(), c,
                             [](const CodeRange& r, char32_t v) { return r.hi < v; });
  return it != ranges.end() && it->lo <= c;
}

}  // namespace

// The category sets are built once; each use copies one.
CharSet digit_set(bool ascii) {
  static const CharSet kUnicode = set_of(kDigitRanges);
  static const CharSet kAscii = set_of(std::span<const CodeRange>(kDigitRanges, 1));
  return ascii ? kAscii : kUnicode;
}

CharSet word_set(bool ascii) {
  static constexpr CodeRange kAsciiWord[] = {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}};
  static const CharSet kUnicode = set_of(kWordRanges);
  static const CharSet kAscii = set_of(kAsciiWord);
  return ascii ? kAscii : kUnicode;
}

CharSet space_set(bool ascii) {
  static constexpr CodeRange kAsciiSpace[] = {{'\t', '\r'}, {' ', ' '}};
  static const CharSet kUnicode = set_of(kSpaceRanges);
  static const CharSet kAscii = set_of(kAsciiSpace);
  return ascii ? kAscii : kUnicode;
}

bool is_word_char(char32_t c) noexcept {
  if (c < 0x80) return is_ascii_word_char(c);
  return in_ranges(kWordRanges, c);
}

bool is_space(char32_t c) noexcept { return in_ranges(kSpaceRanges, c); }

bool is_numeric(char32_t c) noexcept { return in_ranges(kNumericRanges, c); }

bool is_identifier(std::u32string_view name) noexcept {
  if (name.empty() || !in_ranges(kIdStartRanges, name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(),
                     [](char32_t c) { return in_ranges(kIdContinueRanges, c); });
}

void add_case_variants(CharSet& set, bool ascii) {
  if (set.ranges().empty()) return;
  CharSet variants;
  if (ascii) {
    for (const CharSet::Range& r : set.ranges()) {
      for (char32_t base : {U'A', U'a'}) {
        char32_t lo = std::max(r.lo, base);
        char32_t hi = std::min<char32_t>(r.hi, base + 25);
        if (lo <= hi) variants.add(lo ^ 0x20, hi ^ 0x20);
      }
    }
    set.add(variants);
    return;
  }
  if (std::optional<char32_t> c = set.single()) {
    // One character, the common case: its class, found without walking every pair.
    for (const CasePairRun& run : kCasePairRuns) {
      for (char32_t a : {*c, static_cast<char32_t>(*c - static_cast<char32_t>(run.delta))}) {
        if (a >= run.first && a <= run.last && (a - run.first) % run.step == 0) {
          variants.add(a, a);
          variants.add(a + static_cast<char32_t>(run.delta), a + static_cast<char32_t>(run.delta));
        }
      }
    }
    for (const CaseGroup& group : kCaseGroups) {
      const char32_t* end = std::end(group.members);
      // 0 pads the classes of three, and NUL is in none.
      if (*c == 0 || std::find(std::begin(group.members), end, *c) == end) continue;
      for (char32_t member : group.members) {
        if (member != 0) variants.add(member, member);
      }
    }
    set.add(variants);
    return;
  }
  for (const CasePairRun& run : kCasePairRuns) {
    for (char32_t a = run.first; a <= run.last; a += run.step) {
      char32_t b = a + static_cast<char32_t>(run.delta);
      if (set.contains(a) || set.contains(b)) {
        variants.add(a, a);
        variants.add(b, b);
      }
    }
  }
  for (const CaseGroup& group : kCaseGroups) {
    bool hit = std::any_of(std::begin(group.members), std::end(group.members),
                           [&](char32_t c) { return c != 0 && set.contains(c); });
    if (!hit) continue;
    for (char32_t c : group.members) {
      if (c != 0) variants.add(c, c);
    }
  }
  set.add(variants);
}

}  // namespace zarvel::regex_detail
