// The bit-parallel matcher of the regular-expression engine, for small programs without
// lookarounds: the same automaton as regex_vm, with each set of states held in one 64-bit word and
// every closure computed when the pattern is compiled.
#pragma once

#include <optional>
#include <string_view>

#include "query/regex_program.h"

namespace zarvel::regex_detail {

// The tables of `program`, or nothing when it is too large, has a lookaround or uses more than
// BitNfa::kMaxKinds kinds of assertion.
std::optional<BitNfa> build_bit_nfa(const Program& program);

// As run_program from offset 0: whether program.bit_nfa matches `text` at its start, or anywhere
// when `anywhere`. Allocates nothing.
bool run_bit_nfa(const Program& program, std::string_view text, bool anywhere) noexcept;

}  // namespace zarvel::regex_detail
