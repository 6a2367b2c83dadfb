// The Unicode properties of Python's `re` on str patterns, from tables generated out of Python's
// own str methods (tools/gen_unicode_tables.py writes regex_unicode_tables.inc).
#pragma once

#include <string_view>

#include "query/regex_charset.h"

namespace zarvel::regex_detail {

// The code points of \d, \w and \s: Unicode's unless `ascii` (the ASCII flag), where they are
// [0-9], [a-zA-Z0-9_] and [ \t\n\r\f\v].
CharSet digit_set(bool ascii);
CharSet word_set(bool ascii);
CharSet space_set(bool ascii);

// Whether `c` is a \w character, as \b sees it.
bool is_word_char(char32_t c) noexcept;
inline bool is_ascii_word_char(char32_t c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// str.isspace() and str.isnumeric() of one character.
bool is_space(char32_t c) noexcept;
bool is_numeric(char32_t c) noexcept;

// Whether `name` is a valid group name: a Python identifier (str.isidentifier()).
bool is_identifier(std::u32string_view name) noexcept;

// IGNORECASE: adds to `set` every code point that matches one of its members when case is
// ignored. Unicode classes (k, K and the Kelvin sign K; s, S and long s; the Greek symbol forms)
// unless `ascii`, where only the ASCII letters pair up.
void add_case_variants(CharSet& set, bool ascii);

}  // namespace zarvel::regex_detail
