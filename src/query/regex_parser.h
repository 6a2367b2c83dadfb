// The parser of the regular-expression engine: Python's pattern syntax for str patterns, with
// Python's error messages ("missing ), unterminated subpattern at position 0").
#pragma once

#include <string_view>

#include "base/status.h"
#include "query/regex.h"
#include "query/regex_ast.h"

namespace zarvel::regex_detail {

// The largest depth of nested groups (of any kind) a pattern may have; the parser recurses once
// per level.
inline constexpr int kMaxNesting = 127;

// Parses `pattern` (code points, so that positions count as Python's do) under `flags`. Fails with
// kInvalidArgument for a pattern Python refuses, with Python's message, and for the constructs the
// engine leaves out (backreferences, conditional and atomic groups, possessive quantifiers, \N{...}
// and the 't' flag), saying so.
Result<RegexNode> parse_regex(std::u32string_view pattern, const RegexFlags& flags);

}  // namespace zarvel::regex_detail
