// Copying the few bytes of an inline string without a call into the C library.
#pragma once

#include <cstddef>
#include <cstring>

namespace zarvel {

// Copies `n` bytes (at most 16) from `from` to `to` with fixed-size moves, which compile to a
// handful of loads and stores where a memcpy of unknown length would be a call.
inline void copy_small(char* to, const char* from, std::size_t n) noexcept {
  if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

// Copies `n` bytes of any length, without a call when they are few, as keys and most strings are.
inline void copy_bytes(char* to, const char* from, std::size_t n) noexcept {
  if (n <= 16) {
    copy_small(to, from, n);
  } else {
    std::memcpy(to, from, n);
  }
}

}  // namespace zarvel
