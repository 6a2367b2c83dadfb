// The keyword-only options of find, checked and turned into FindOptions before the store is
// touched.
#pragma once

#include <Python.h>

#include "lib/find_options.h"

namespace zarvel {

// Each argument is a borrowed reference, or null when omitted (the default). False with the
// exception set, naming the argument: TypeError for a wrong type, ValueError for a wrong value
// (a direction other than 1 or -1, a negative skip or limit); a path that is not UTF-8 raises the
// interpreter's UnicodeEncodeError.
//   sort:   None, a path (str), or a list of (path, direction) pairs (tuples or lists), each
//           direction the int 1 or -1 (not a bool)
//   skip:   an int >= 0 (not a bool)
//   limit:  None or an int >= 0 (not a bool)
//   fields: None or a list of paths (str)
bool extract_find_options(PyObject* sort, PyObject* skip, PyObject* limit, PyObject* fields,
                          FindOptions& out);

}  // namespace zarvel
