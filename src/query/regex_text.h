// How both matchers of the regular-expression engine read a text: code points decoded from UTF-8
// at byte offsets, and the assertions (^ $ \A \Z \b \B) judged from the neighbouring code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/utf8.h"
#include "query/regex_ast.h"
#include "query/regex_unicode.h"

namespace zarvel::regex_detail {

inline constexpr std::int32_t kNoChar = -1;  // before the start, or at the end

// A byte that does not start a well-formed sequence reads as a lone surrogate, which no character
// of a valid text is.
inline constexpr std::int32_t kBadByteBase = 0xDC00;

struct Decoded {
  std::int32_t c;
  std::uint32_t length;
};

inline Decoded decode_at(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return {kNoChar, 0};
  auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80) return {byte, 1};
  char32_t c = 0;
  std::size_t length = decode_utf8(text.substr(pos), c);
  if (length == 0) return {kBadByteBase + byte, 1};
  return {static_cast<std::int32_t>(c), static_cast<std::uint32_t>(length)};
}

inline std::int32_t char_before(std::string_view text, std::size_t pos) noexcept {
  if (pos == 0) return kNoChar;
  std::size_t start = pos - 1;
  while (start > 0 && pos - start < 4 && is_continuation(static_cast<unsigned char>(text[start]))) {
    --start;
  }
  Decoded d = decode_at(text, start);
  if (start + d.length == pos) return d.c;
  return kBadByteBase + static_cast<unsigned char>(text[pos - 1]);
}

// A position of the text with the code points on either side.
struct TextPoint {
  std::size_t pos;
  std::int32_t prev;
  std::int32_t cur;
};

inline bool word_at(std::int32_t c) noexcept {
  return c != kNoChar && is_word_char(static_cast<char32_t>(c));
}
inline bool ascii_word_at(std::int32_t c) noexcept {
  return c != kNoChar && is_ascii_word_char(static_cast<char32_t>(c));
}

inline bool assertion_holds(AssertKind kind, const TextPoint& at, std::size_t size) noexcept {
  switch (kind) {
    case AssertKind::kBeginText:
      return at.pos == 0;
    case AssertKind::kBeginLine:
      return at.pos == 0 || at.prev == '\n';
    case AssertKind::kEndText:
      return at.pos == size;
    case AssertKind::kEnd:
      return at.pos == size || (at.pos + 1 == size && at.cur == '\n');
    case AssertKind::kEndLine:
      return at.pos == size || at.cur == '\n';
    case AssertKind::kWordBoundary:
      return size != 0 && word_at(at.prev) != word_at(at.cur);
    case AssertKind::kNotWordBoundary:
      return size != 0 && word_at(at.prev) == word_at(at.cur);
    case AssertKind::kAsciiWordBoundary:
      return size != 0 && ascii_word_at(at.prev) != ascii_word_at(at.cur);
    case AssertKind::kAsciiNotWordBoundary:
      return size != 0 && ascii_word_at(at.prev) == ascii_word_at(at.cur);
  }
  return false;
}

}  // namespace zarvel::regex_detail
