#include "query/path_trace.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace zarvel {
namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

// Inclusive, ascending, disjoint. The BMP noncharacters U+FFFE/U+FFFF and those of the other
// planes are caught by the bit test in is_printable.
constexpr CodeRange kNonPrintable[] = {
    {0x0000, 0x001F},   {0x007F, 0x00A0},   {0x00AD, 0x00AD},   {0x0600, 0x0605},
    {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},
    {0x08E2, 0x08E2},   {0x1680, 0x1680},   {0x180E, 0x180E},   {0x2000, 0x200F},
    {0x2028, 0x202F},   {0x205F, 0x2064},   {0x2066, 0x206F},   {0x3000, 0x3000},
    {0xD800, 0xF8FF},   {0xFDD0, 0xFDEF},   {0xFEFF, 0xFEFF},   {0xFFF0, 0xFFFB},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0x323B0, 0xE00FF}, {0xE01F0, 0x10FFFF},
};

bool is_printable(char32_t cp) noexcept {
  if ((cp & 0xFFFE) == 0xFFFE) return false;
  auto it = std::upper_bound(std::begin(kNonPrintable), std::end(kNonPrintable), cp,
                             [](char32_t c, const CodeRange& r) { return c < r.first; });
  return it == std::begin(kNonPrintable) || cp > std::prev(it)->last;
}

// Decodes one well-formed UTF-8 sequence at the front of `s`; returns its length, 0 if malformed.
std::size_t decode_utf8(std::string_view s, char32_t& cp) noexcept {
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  std::uint8_t b0 = byte(0);
  std::size_t length;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    length = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex(std::string& out, std::uint32_t v) {
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = kHexDigits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  while (n > 0) out += buffer[--n];
}

void append_segment(std::string& out, std::string_view s) {
  out += '"';
  while (!s.empty()) {
    char32_t cp;
    std::size_t length = decode_utf8(s, cp);
    if (length == 0) {
      out += "\\x";
      std::uint8_t b = static_cast<std::uint8_t>(s.front());
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 0xF];
      s.remove_prefix(1);
      continue;
    }
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case 0:
        out += "\\0";
        break;
      default:
        if (is_printable(cp)) {
          out.append(s.data(), length);
        } else {
          out += "\\u{";
          append_hex(out, static_cast<std::uint32_t>(cp));
          out += '}';
        }
    }
    s.remove_prefix(length);
  }
  out += '"';
}

}  // namespace

void append_fields_list(std::string& out, const std::vector<std::string>& fields) {
  out += '[';
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) out += ", ";
    append_segment(out, fields[i]);
  }
  out += ']';
}

}  // namespace zarvel
