// The matcher of the regular-expression engine: a simulation of the program's automaton over the
// text (a Pike VM without captures), every live state advanced together one code point at a time.
// Time is linear in the text times the program size, whatever the pattern; a lookbehind adds a
// sub-match as long as its width at each position, a lookahead one pass over the text.
#pragma once

#include <cstddef>
#include <string_view>

#include "query/regex_program.h"

namespace zarvel::regex_detail {

// Whether `program` matches `text` (valid UTF-8) at byte offset `from`, or, when `anywhere`, at
// `from` or any later position; `from` must start a character. Uses per-thread scratch buffers that
// grow to the largest program seen, so it allocates only then, and for the tables of lookaheads in
// a text over 128 bytes (a byte per offset of the text for each lookahead).
bool run_program(const Program& program, std::string_view text, std::size_t from,
                 bool anywhere) noexcept;

}  // namespace zarvel::regex_detail
