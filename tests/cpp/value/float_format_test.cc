#include "value/float_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "value/json_reader.h"

namespace zarvel {
namespace {

std::string text_of(double d) {
  char out[kMaxFloatText];
  return std::string(out, format_float(d, out));
}

TEST(FloatFormatTest, LaysOutDigitsByMagnitude) {
  struct Case {
    double value;
    const char* expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {123.456, "123.456"},
      {0.5, "0.5"},
      {0.1 + 0.2, "0.30000000000000004"},
      {0.001234, "0.001234"},
      // Plain up to 16 digits before the point, scientific beyond; plain down to 1e-5.
      {1e15, "1000000000000000.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e16"},
      {1234567890123456.7, "1234567890123456.8"},
      {18446744073709551616.0, "1.8446744073709552e19"},
      {1e-5, "0.00001"},
      {1.5e-5, "0.000015"},
      {-1.2345678901234568e-5, "-0.000012345678901234568"},
      {1e-6, "1e-6"},
      {1.2345e-7, "1.2345e-7"},
      {5e-324, "5e-324"},
      {-2.2250738585072014e-308, "-2.2250738585072014e-308"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
      {2.2790121708605243e274, "2.2790121708605243e274"},
      {1847850320662571.0, "1847850320662571.0"},
      {std::nan(""), "null"},
      {inf, "null"},
      {-inf, "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(text_of(c.value), c.expected);
}

// Format then read gives back the same bits, for random patterns across the whole range, subnormals
// and integral values near the plain/scientific boundaries included.
TEST(FloatFormatTest, RandomDoublesRoundTripBitForBit) {
  std::mt19937_64 random(20240601);
  auto check = [](double d) {
    if (!std::isfinite(d)) return;
    std::string text = text_of(d);
    ASSERT_LE(text.size(), kMaxFloatText);
    ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text;
    std::optional<Value> back = parse_json(text);
    ASSERT_TRUE(back && back->is_number() && back->as_number().is_float()) << text;
    ASSERT_EQ(back->as_number().bits(), std::bit_cast<std::uint64_t>(d)) << text;
  };
  for (int i = 0; i < 200000; ++i) {
    std::uint64_t bits = random();
    check(std::bit_cast<double>(bits));
    check(std::bit_cast<double>(bits & 0x800FFFFFFFFFFFFF));  // subnormal
    check(std::bit_cast<double>(bits >> (random() % 64)));
    check(std::ldexp(static_cast<double>(bits >> 11), static_cast<int>(random() % 40) - 20));
  }
}

}  // namespace
}  // namespace zarvel
