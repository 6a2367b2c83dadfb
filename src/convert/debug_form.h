// Debug forms: the text that follows kUnwrapErrPrefix in the
// message of an internal failure.
#pragma once

#include <Python.h>

#include <string>

namespace zarvel {

// The debug form of the exception `exc` (borrowed), PyErr { ... } from the reprs of its type, of
// itself and of its traceback when it has one. A repr that fails goes to the unraisable hook and is
// replaced by
// "<unprintable NAME object>". Never fails; an exception pending on entry is pending again on
// return.
std::string pyerr_debug_form(PyObject* exc);

}  // namespace zarvel
