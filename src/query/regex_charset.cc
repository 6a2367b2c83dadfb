#include "query/regex_charset.h"

#include <algorithm>

namespace zarvel::regex_detail {

void CharSet::add(char32_t lo, char32_t hi) {
  // The first range that could touch [lo, hi]: the first whose end is at least lo - 1.
  auto first = std::lower_bound(ranges_.begin(), ranges_.end(), lo,
                                [](const Range& r, char32_t v) { return r.hi + 1 < v; });
  auto last = first;
  while (last != ranges_.end() && last->lo <= hi + 1) {
    lo = std::min(lo, last->lo);
    hi = std::max(hi, last->hi);
    ++last;
  }
  if (first == last) {
    ranges_.insert(first, {lo, hi});
    return;
  }
  *first = {lo, hi};
  ranges_.erase(first + 1, last);
}

void CharSet::add(const CharSet& other) {
  if (ranges_.empty()) {
    ranges_ = other.ranges_;
    return;
  }
  // A merge of two sorted lists, joining ranges that overlap or touch.
  std::vector<Range> merged;
  merged.reserve(ranges_.size() + other.ranges_.size());
  auto a = ranges_.begin();
  auto b = other.ranges_.begin();
  while (a != ranges_.end() || b != other.ranges_.end()) {
    Range next;
    if (b == other.ranges_.end() || (a != ranges_.end() && a->lo <= b->lo)) {
      next = *a++;
    } else {
      next = *b++;
    }
    if (!merged.empty() && next.lo <= merged.back().hi + 1) {
      merged.back().hi = std::max(merged.back().hi, next.hi);
    } else {
      merged.push_back(next);
    }
  }
  ranges_ = std::move(merged);
}

CharSet CharSet::complement() const {
  CharSet out;
  char32_t next = 0;
  for (const Range& r : ranges_) {
    if (r.lo > next) out.ranges_.push_back({next, r.lo - 1});
    next = r.hi + 1;
  }
  if (next <= kMaxCodePoint) out.ranges_.push_back({next, kMaxCodePoint});
  return out;
}

bool CharSet::contains(char32_t c) const noexcept {
  auto it = std::lower_bound(ranges_.begin(), ranges_.end(), c,
                             [](const Range& r, char32_t v) { return r.hi < v; });
  return it != ranges_.end() && it->lo <= c;
}

std::optional<char32_t> CharSet::single() const noexcept {
  if (ranges_.size() == 1 && ranges_[0].lo == ranges_[0].hi) return ranges_[0].lo;
  return std::nullopt;
}

bool CharSet::operator==(const CharSet& other) const noexcept {
  return std::equal(ranges_.begin(), ranges_.end(), other.ranges_.begin(), other.ranges_.end(),
                    [](const Range& x, const Range& y) { return x.lo == y.lo && x.hi == y.hi; });
}

}  // namespace zarvel::regex_detail
