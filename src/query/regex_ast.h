// The parsed form of a regular expression, between regex_parser and regex_program. Flags are
// already applied: a literal under IGNORECASE is the set of its case variants, `.` knows whether it
// matches a newline, and every anchor says exactly where it holds.
#pragma once

#include <cstdint>
#include <vector>

#include "query/regex_charset.h"

namespace zarvel::regex_detail {

enum class AssertKind : std::uint8_t {
  kBeginText,        // \A, and ^ without MULTILINE
  kBeginLine,        // ^ with MULTILINE: at the start or after a newline
  kEndText,          // \Z
  kEnd,              // $ without MULTILINE: at the end or before a newline that ends the text
  kEndLine,          // $ with MULTILINE: at the end or before any newline
  kWordBoundary,     // \b; never in an empty text
  kNotWordBoundary,  // \B; never in an empty text either, as in Python 3.12
  kAsciiWordBoundary,
  kAsciiNotWordBoundary,
};

inline constexpr std::uint32_t kUnbounded = 0xFFFFFFFF;

struct RegexNode {
  enum class Kind : std::uint8_t {
    kEmpty,
    kChar,           // ch
    kSet,            // set
    kAnyChar,        // . with DOTALL
    kAnyButNewline,  // . without it
    kAssert,         // assertion
    kLook,           // lookahead or lookbehind of children[0]
    kConcat,         // children in order
    kAlternate,      // one of children
    kRepeat,         // children[0], min to max times (max kUnbounded for no limit)
  };

  Kind kind = Kind::kEmpty;
  AssertKind assertion = AssertKind::kBeginText;
  bool behind = false;  // kLook
  bool negate = false;  // kLook
  char32_t ch = 0;
  std::uint32_t min = 0;
  std::uint32_t max = 0;
  CharSet set;
  std::vector<RegexNode> children;
};

}  // namespace zarvel::regex_detail
