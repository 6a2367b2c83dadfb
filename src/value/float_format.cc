#include "value/float_format.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace zarvel {

namespace {

char* fill_zeros(char* out, int count) {
  std::memset(out, '0', static_cast<std::size_t>(count));
  return out + count;
}

char* copy(char* out, const char* digits, int count) {
  std::memcpy(out, digits, static_cast<std::size_t>(count));
  return out + count;
}

constexpr int kMaxShortDecimals = 8;
constexpr std::uint64_t kIntegerScales[kMaxShortDecimals + 1] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The plain text of positive d when its shortest digits are few, as in most stored data (prices,
// scores, coordinates): the fewest decimals k for which some integer m reads back as d from
// m / 10^k. Below 10^15, a step of 10^-k is wider than the interval of reals that round to d, so
// that m is the only candidate there, and the one nearest d * 10^k: these are exactly the shortest
// digits the general path finds, at a fraction of its cost. Null when d is not such a value.
char* format_short_decimal(double d, char* out) {
  if (!(d >= 1e-3 && d < 1e15)) return nullptr;
  for (int k = 0; k <= kMaxShortDecimals; ++k) {
    double scaled = d * kExactPowersOfTen[k];
    if (scaled >= 1e15) return nullptr;
    // Adding a half can round up a value just below one (0.49999999999999994): the check below
    // then refuses m, so only exact candidates pass.
    auto m = static_cast<std::uint64_t>(scaled + 0.5);  // NOLINT(bugprone-incorrect-roundings)
    if (static_cast<double>(m) / kExactPowersOfTen[k] != d) continue;
    out = std::to_chars(out, out + 16, m / kIntegerScales[k]).ptr;
    *out++ = '.';
    if (k == 0) {
      *out++ = '0';
      return out;
    }
    std::uint64_t fraction = m % kIntegerScales[k];
    for (int i = k - 1; i >= 0; --i) {
      out[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    return out + k;
  }
  return nullptr;
}

}  // namespace

std::size_t format_float(double d, char* out) {
  if (!std::isfinite(d)) {
    std::memcpy(out, "null", 4);
    return 4;
  }
  char* o = out;
  if (std::signbit(d)) {
    *o++ = '-';
    d = -d;
  }
  if (d == 0) {
    std::memcpy(o, "0.0", 3);
    return static_cast<std::size_t>(o + 3 - out);
  }
  if (char* end = format_short_decimal(d, o)) return static_cast<std::size_t>(end - out);

  // Step 1: the shortest round-trip digits, closest to the exact value among equally short ones,
  // from the scientific form "D[.DDD]e±XX".
  char sci[32];
  char* sci_end = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific).ptr;
  char digits[20];
  int n = 0;
  const char* s = sci;
  for (; *s != 'e'; ++s) {
    if (*s != '.') digits[n++] = *s;
  }
  while (n > 1 && digits[n - 1] == '0') --n;
  int exponent = 0;  // of the leading digit
  std::from_chars(s + (s[1] == '+' ? 2 : 1), sci_end, exponent);

  // Step 2: p is the position of the decimal point counted from the left of the first digit,
  // e the power of ten of the last digit.
  int p = exponent + 1;
  int e = p - n;

  // Step 3: the layout.
  if (e >= 0 && p <= 16) {
    o = copy(o, digits, n);
    o = fill_zeros(o, e);
    *o++ = '.';
    *o++ = '0';
  } else if (p >= 1 && p <= 16) {
    o = copy(o, digits, p);
    *o++ = '.';
    o = copy(o, digits + p, n - p);
  } else if (p >= -4 && p <= 0) {
    *o++ = '0';
    *o++ = '.';
    o = fill_zeros(o, -p);
    o = copy(o, digits, n);
  } else {
    *o++ = digits[0];
    if (n > 1) {
      *o++ = '.';
      o = copy(o, digits + 1, n - 1);
    }
    *o++ = 'e';
    o = std::to_chars(o, o + 5, p - 1).ptr;
  }
  return static_cast<std::size_t>(o - out);
}

}  // namespace zarvel
