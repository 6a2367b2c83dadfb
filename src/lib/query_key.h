// The 64-bit key under which the result cache files the answer to a query on a collection.
#pragma once

#include <cstdint>
#include <string_view>

#include "value/value.h"

namespace zarvel {

// SipHash-1-3, keys (0, 0), over the collection name's bytes, one 0xFF byte, then the query's
// hash stream: the member count, then each member's key bytes, 0xFF and its value. A value is its
// kind number, then nothing (null), one byte 0/1 (boolean), the 8 payload bytes (number: the
// unsigned value, the two's complement, or the IEEE bits with -0.0 written as 0), the bytes and
// 0xFF (string), the count and the elements (array), the count and the members (object). Every
// count and kind number is 8 bytes, little-endian. Equal queries give equal keys; unequal ones
// may collide (0 and 0.0 do), so a key alone never proves two queries equal.
std::uint64_t query_key(std::string_view collection_name, const Object& query);

}  // namespace zarvel
