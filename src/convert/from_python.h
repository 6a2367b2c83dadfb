// Python object to document value.
#pragma once

#include <Python.h>

#include "convert/conversion_error.h"
#include "value/value.h"

namespace zarvel {

// Containers (lists, tuples, sets, dicts, mappings, sequences) may nest this many levels, the
// outermost counting as the first; one more is refused with "Document nested too deeply".
inline constexpr int kMaxConversionDepth = 126;

// Converts `object` (borrowed) into a document value: None, bool, int, float, str, list, tuple, set,
// frozenset, dict and any collections.abc Sequence or Mapping, recursively. The first failure stops
// the walk and is returned; nothing partial is kept and every reference taken is released. No
// Python exception is pending on return. May run Python code of user types (__len__, __getitem__,
// keys(), values(), __iter__, instance checks). Throws std::bad_alloc when memory runs out.
ConversionResult<Value> value_from_python(PyObject* object);

}  // namespace zarvel
