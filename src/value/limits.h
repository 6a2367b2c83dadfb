// How deeply values may nest. Every way a value is built refuses to go deeper: the reader, the
// conversion from Python and the update operators. That is what keeps equality, copying and
// destruction within the stack, since they recurse and never meet a deeper value. The writer and
// the conversion to Python, which also recurse, check the depth again on their own.
#pragma once

#include "value/value.h"

namespace zarvel {

// At most this many arrays and objects are open at once in any JSON text or value.
inline constexpr int kMaxNestingDepth = 127;
// A collection file is one array of documents, so a stored document nests one level less.
inline constexpr int kMaxDocumentDepth = kMaxNestingDepth - 1;

// The levels of `value`: 0 for a scalar, 1 for [] or {}, and one more than its deepest element or
// member otherwise.
int nesting_depth(const Value& value) noexcept;

}  // namespace zarvel
