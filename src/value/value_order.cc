#include "value/value_order.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zarvel {

namespace {

// Where each kind stands among the others.
int kind_rank(Kind kind) noexcept {
  switch (kind) {
    case Kind::kNull:
      return 0;
    case Kind::kNumber:
      return 1;
    case Kind::kString:
      return 2;
    case Kind::kObject:
      return 3;
    case Kind::kArray:
      return 4;
    case Kind::kBool:
      return 5;
  }
  return 6;
}

// 2**64 and -2**63, both exact doubles.
constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr double kMinusTwoTo63 = -9223372036854775808.0;

// A finite double against an integer, without rounding the integer to a double: the double's
// integer part (exact once it is known to fit in 64 bits) is compared first, then its fraction.
std::weak_ordering float_vs_unsigned(double d, std::uint64_t u) noexcept {
  if (d < 0) return std::weak_ordering::less;
  if (d >= kTwoTo64) return std::weak_ordering::greater;
  double whole = std::trunc(d);
  auto integer = static_cast<std::uint64_t>(whole);
  if (integer != u) return integer < u ? std::weak_ordering::less : std::weak_ordering::greater;
  return d > whole ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}

std::weak_ordering float_vs_negative(double d, std::int64_t i) noexcept {
  if (d >= 0) return std::weak_ordering::greater;
  if (d < kMinusTwoTo63) return std::weak_ordering::less;
  double whole = std::trunc(d);
  auto integer = static_cast<std::int64_t>(whole);
  if (integer != i) return integer < i ? std::weak_ordering::less : std::weak_ordering::greater;
  return d < whole ? std::weak_ordering::less : std::weak_ordering::equivalent;
}

std::weak_ordering compare_bytes(std::string_view a, std::string_view b) noexcept {
  // string_view compares through char_traits<char>, which orders bytes as unsigned char.
  int c = a.compare(b);
  return c < 0 ? std::weak_ordering::less
               : (c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent);
}

template <typename RangeA, typename RangeB, typename CompareElements>
std::weak_ordering compare_sequences(const RangeA& a, const RangeB& b,
                                     CompareElements compare) noexcept {
  auto x = a.begin();
  auto y = b.begin();
  for (; x != a.end() && y != b.end(); ++x, ++y) {
    if (std::weak_ordering c = compare(*x, *y); c != 0) return c;
  }
  return (a.size() <=> b.size());
}

}  // namespace

std::weak_ordering compare_numbers(Number a, Number b) noexcept {
  using Form = Number::Form;
  if (a.form() == Form::kFloat && b.form() == Form::kFloat) {
    // Finite, so never unordered; -0.0 and 0.0 are equivalent.
    double x = a.as_float();
    double y = b.as_float();
    return x < y ? std::weak_ordering::less
                 : (x > y ? std::weak_ordering::greater : std::weak_ordering::equivalent);
  }
  if (b.form() == Form::kFloat) return 0 <=> compare_numbers(b, a);
  if (a.form() == Form::kFloat) {
    return b.form() == Form::kUnsigned ? float_vs_unsigned(a.as_float(), b.as_unsigned())
                                       : float_vs_negative(a.as_float(), b.as_negative());
  }
  if (a.form() != b.form()) {
    return a.form() == Form::kNegative ? std::weak_ordering::less : std::weak_ordering::greater;
  }
  if (a.form() == Form::kUnsigned) return a.as_unsigned() <=> b.as_unsigned();
  return a.as_negative() <=> b.as_negative();
}

namespace {

template <class Document>
OrderPrefix prefix_of(const Document& value) noexcept {
  OrderPrefix prefix{static_cast<std::uint8_t>(kind_rank(value.kind()) + 1), 0};
  switch (value.kind()) {
    case Kind::kNumber: {
      double d = value.as_number().to_double();
      if (d == 0) d = 0.0;  // -0.0 ties with 0
      // Finite doubles as integers that order as they do: negative ones reversed below the rest.
      auto bits = std::bit_cast<std::uint64_t>(d);
      prefix.bits = (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
      break;
    }
    case Kind::kString: {
      // Zero-padded: a shorter string whose bytes all match sorts first, as it should.
      std::string_view text = value.as_string();
      unsigned char head[8] = {};
      std::memcpy(head, text.data(), std::min<std::size_t>(text.size(), sizeof head));
      for (unsigned char byte : head) prefix.bits = (prefix.bits << 8) | byte;
      break;
    }
    case Kind::kBool:
      prefix.bits = value.as_bool() ? 1 : 0;
      break;
    default:
      break;
  }
  return prefix;
}

// Either form (`const Value&` or `PackedValue`) on each side; objects read their members in key
// order in both.
template <class A, class B>
std::weak_ordering compare_documents(const A& a, const B& b) noexcept {
  if (a.kind() != b.kind()) return kind_rank(a.kind()) <=> kind_rank(b.kind());
  switch (a.kind()) {
    case Kind::kNull:
      return std::weak_ordering::equivalent;
    case Kind::kBool:
      return a.as_bool() <=> b.as_bool();
    case Kind::kNumber:
      return compare_numbers(a.as_number(), b.as_number());
    case Kind::kString:
      return compare_bytes(a.as_string(), b.as_string());
    case Kind::kArray:
      return compare_sequences(a.as_array(), b.as_array(),
                               [](auto&& x, auto&& y) noexcept { return compare_documents(x, y); });
    case Kind::kObject:
      return compare_sequences(a.as_object(), b.as_object(), [](auto&& x, auto&& y) noexcept {
        std::weak_ordering keys = compare_bytes(std::string_view(x.key), std::string_view(y.key));
        return keys != 0 ? keys : compare_documents(x.value, y.value);
      });
  }
  return std::weak_ordering::equivalent;
}

}  // namespace

OrderPrefix order_prefix(const Value& value) noexcept { return prefix_of(value); }
OrderPrefix order_prefix(PackedValue value) noexcept { return prefix_of(value); }

std::weak_ordering compare_values(const Value& a, const Value& b) noexcept {
  return compare_documents(a, b);
}
std::weak_ordering compare_values(PackedValue a, PackedValue b) noexcept {
  return compare_documents(a, b);
}
std::weak_ordering compare_values(PackedValue a, const Value& b) noexcept {
  return compare_documents(a, b);
}

}  // namespace zarvel
