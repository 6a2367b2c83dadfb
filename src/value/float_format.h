// The text of a float in JSON documents: the shortest digits that read back as the same double,
// laid out in plain decimal for moderate magnitudes and in scientific form otherwise.
#pragma once

#include <cstddef>

namespace zarvel {

// The most bytes format_float writes ("-0.000012345678901234567" and "-1.2345678901234567e-308").
inline constexpr std::size_t kMaxFloatText = 24;

// Writes the text of d into out, which must have room for kMaxFloatText bytes, and returns its
// length; nothing is terminated or allocated. Zero is "0.0" or "-0.0", an integral value in
// [1, 1e16) gets ".0" (1.0, 100.0, 1000000000000000.0), values in [1e-5, 1e16) are written in
// plain decimal (123.456, 0.00001), others in scientific form without "+" or leading zeros (1e16,
// 1e-6, 5e-324, 1.7976931348623157e308). A NaN or an infinity is written "null".
std::size_t format_float(double d, char* out);

}  // namespace zarvel
