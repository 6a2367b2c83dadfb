// Regular expressions for the query operator $regex: Python's `re.search(pattern, text)` on str,
// answering only whether there is a match. Python's syntax, flags and Unicode rules; an automaton
// underneath (see docs/internals.md, "Regular expressions"), so matching time grows linearly with
// the text and never explodes.
#pragma once

#include <memory>
#include <string_view>

#include "base/status.h"

namespace zarvel {

// The option letters of $options: i, m, s and x.
struct RegexFlags {
  bool ignore_case = false;  // re.IGNORECASE
  bool multiline = false;    // re.MULTILINE
  bool dot_all = false;      // re.DOTALL
  bool verbose = false;      // re.VERBOSE
};

namespace regex_detail {
struct Program;
}

class Regex {
 public:
  // Compiles `pattern` (UTF-8). Fails with kInvalidArgument and Python's re.error text ("missing ),
  // unterminated subpattern at position 0") for a pattern Python refuses, and for the constructs
  // left out, which change whether a text matches and need backtracking: backreferences,
  // conditional and atomic groups, possessive quantifiers ("backreferences are not supported at
  // position 3"); also for \N{...} escapes, the 't' flag, groups nested more than 127 deep and
  // patterns whose program would be too large ("pattern too large").
  static Result<Regex> compile(std::string_view pattern, RegexFlags flags);

  // Whether the pattern matches somewhere in `text` (valid UTF-8), as re.search would. Const and
  // safe to call from several threads at once; copies share the compiled program. Allocates only
  // to grow per-thread scratch buffers and, for a lookahead in a text over 128 bytes, its table.
  bool search(std::string_view text) const noexcept;

 private:
  explicit Regex(std::shared_ptr<const regex_detail::Program> program) noexcept
      : program_(std::move(program)) {}

  std::shared_ptr<const regex_detail::Program> program_;
};

}  // namespace zarvel
