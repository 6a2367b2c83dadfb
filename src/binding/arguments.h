// Binding of call arguments to parameters and their conversion, with the interpreter-style
// TypeError messages callers see ("Zarvel.find() takes from 1 to 2 positional arguments ...").
#pragma once

#include <Python.h>

#include <span>
#include <string>

namespace zarvel {

struct Parameters {
  const char* function;                // as named in messages, e.g. "Zarvel.find()"
  std::span<const char* const> names;  // may be given by keyword, all but the last keyword_only
                                       // by position too
  std::size_t required;                // the first `required` names have no default
  std::size_t keyword_only = 0;        // the last names, which have defaults

  std::size_t positional() const noexcept { return names.size() - keyword_only; }
};

// Binds vectorcall arguments. On success `out[i]` holds a borrowed reference to parameter i, or
// null when an optional parameter was omitted. On failure returns false with TypeError set.
bool bind_fast(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames, PyObject** out);

// The same for a tuple and an optional dict of keywords.
bool bind_tuple(const Parameters& parameters, PyObject* args, PyObject* kwargs, PyObject** out);

// Conversions of bound arguments; each returns false with the exception set, naming the parameter.
bool extract_string(PyObject* object, const char* parameter, std::string& out);
// A str, or an os.PathLike whose __fspath__ gives one; bytes and other types as extract_string.
bool extract_path(PyObject* object, const char* parameter, std::string& out);
bool check_dict(PyObject* object, const char* parameter);
bool check_list(PyObject* object, const char* parameter);
// `bool` exactly, or a NumPy boolean scalar.
bool extract_bool(PyObject* object, const char* parameter, bool& out);

}  // namespace zarvel
