// The text of a float in JSON documents: the shortest digits that read back as the same double,
// laid out in plain decimal for moderate magnitudes and in scientific form otherwise.
#pragma once

#include <cstddef>

namespace zarvel {

// 10^0 to 10^22, the powers of ten a double holds exactly: a value of at most 2^53 multiplied or
// divided by one of them is rounded once, correctly, which the quick paths for short decimals in
// both directions rely on.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The most bytes format_float writes ("-0.000012345678901234567" and "-1.2345678901234567e-308").
inline constexpr std::size_t kMaxFloatText = 24;

// Writes the text of d into out, which must have room for kMaxFloatText bytes, and returns its
// length; nothing is terminated or allocated. Zero is "0.0" or "-0.0", an integral value in
// [1, 1e16) gets ".0" (1.0, 100.0, 1000000000000000.0), values in [1e-5, 1e16) are written in
// plain decimal (123.456, 0.00001), others in scientific form without "+" or leading zeros (1e16,
// 1e-6, 5e-324, 1.7976931348623157e308). A NaN or an infinity is written "null".
std::size_t format_float(double d, char* out);

}  // namespace zarvel
