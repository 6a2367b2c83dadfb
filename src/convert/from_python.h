// Python object to document value.
#pragma once

#include <Python.h>

#include <cstddef>

#include "base/status.h"
#include "convert/conversion_error.h"
#include "value/limits.h"
#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// What a conversion accepts, by what the value is for.
struct ConversionOptions {
  // Containers (lists, tuples, sets, dicts, mappings, sequences) may nest this many levels, the
  // outermost counting as the first; one more is refused with "Document nested too deeply".
  int max_depth;
  // A NaN or an infinity becomes null, or is refused with the error kind kMalformedQuery.
  bool refuse_non_finite = false;
};

// A document to store: as deep as a collection file lets it be.
inline constexpr ConversionOptions kDocumentConversion{.max_depth = kMaxDocumentDepth};
// The list of insert_many, one level around documents of kDocumentConversion's depth.
inline constexpr ConversionOptions kDocumentListConversion{.max_depth = kMaxNestingDepth};
// Query and update documents are never stored, so they may nest as deep as any value: enough to
// name, compare or set any stored value. A query refuses NaN and infinities, which as null would
// match null fields.
inline constexpr ConversionOptions kQueryConversion{.max_depth = kMaxNestingDepth,
                                                    .refuse_non_finite = true};
inline constexpr ConversionOptions kUpdateConversion{.max_depth = kMaxNestingDepth};

// Converts `object` (borrowed) into a document value, within `options`: None, bool, int, float,
// str, list, tuple, set, frozenset, dict and any collections.abc Sequence or Mapping, recursively.
// The first failure stops the walk and is returned; nothing partial is kept and every reference
// taken is released. No Python exception is pending on return. May run Python code of user types
// (__len__, __getitem__, keys(), values(), __iter__, instance checks). Throws std::bad_alloc when
// memory runs out.
Result<Value, ConversionError> value_from_python(PyObject* object,
                                                 const ConversionOptions& options);

// The same conversion, with the same failures, written as a packed value at the end of `out`
// without building a Value: the offset in `out` where the value starts. On failure, or when
// memory runs out (std::bad_alloc), `out` is left as it was.
Result<std::size_t, ConversionError> pack_from_python(PyObject* object,
                                                      const ConversionOptions& options,
                                                      PackedBuffer& out);

}  // namespace zarvel
