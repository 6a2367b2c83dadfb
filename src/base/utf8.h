// UTF-8 validation: well-formed sequences only (no overlongs, no surrogates, nothing past
// U+10FFFF).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvel {

// The length of the UTF-8 sequence a lead byte starts; 0 for a byte that cannot lead one
// (continuation bytes, the overlong leads C0 and C1, and leads beyond U+10FFFF).
inline int utf8_sequence_length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

inline bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Checks a whole sequence of `length` bytes (from utf8_sequence_length of its lead). The narrowed
// second-byte ranges reject overlong forms, UTF-16 surrogates and code points past U+10FFFF.
inline bool is_valid_utf8_sequence(const unsigned char* s, int length) {
  unsigned char second = s[1];
  switch (length) {
    case 2:
      return is_continuation(second);
    case 3: {
      unsigned char low = s[0] == 0xE0 ? 0xA0 : 0x80;
      unsigned char high = s[0] == 0xED ? 0x9F : 0xBF;
      return second >= low && second <= high && is_continuation(s[2]);
    }
    case 4: {
      unsigned char low = s[0] == 0xF0 ? 0x90 : 0x80;
      unsigned char high = s[0] == 0xF4 ? 0x8F : 0xBF;
      return second >= low && second <= high && is_continuation(s[2]) && is_continuation(s[3]);
    }
    default:
      return false;
  }
}

bool is_valid_utf8(std::string_view bytes) noexcept;

// Decodes the well-formed sequence at the front of `bytes` into `code_point`; its length, or 0
// when `bytes` is empty or does not start with one.
inline std::size_t decode_utf8(std::string_view bytes, char32_t& code_point) noexcept {
  if (bytes.empty()) return 0;
  auto s = reinterpret_cast<const unsigned char*>(bytes.data());
  if (s[0] < 0x80) {
    code_point = s[0];
    return 1;
  }
  int length = utf8_sequence_length(s[0]);
  if (length == 0 || bytes.size() < static_cast<std::size_t>(length) ||
      !is_valid_utf8_sequence(s, length)) {
    return 0;
  }
  static constexpr unsigned char kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
  code_point = s[0] & kLeadBits[length];
  for (int i = 1; i < length; ++i) code_point = (code_point << 6) | (s[i] & 0x3F);
  return static_cast<std::size_t>(length);
}

// Appends the UTF-8 form of `code_point` (at most U+10FFFF) to `out`.
inline void encode_utf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
    return;
  }
  char bytes[4];
  int length = code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
  for (int i = length - 1; i > 0; --i) {
    bytes[i] = static_cast<char>(0x80 | (code_point & 0x3F));
    code_point >>= 6;
  }
  static constexpr unsigned char kLeads[] = {0, 0, 0xC0, 0xE0, 0xF0};
  bytes[0] = static_cast<char>(kLeads[length] | code_point);
  out.append(bytes, static_cast<std::size_t>(length));
}

}  // namespace zarvel
