#include "binding/arguments.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "convert/conversion_error.h"
#include "python/py_ref.h"

namespace zarvel {

namespace {

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + (count == 1 ? one : many);
}

bool too_many_positional(const Parameters& p, Py_ssize_t given) {
  // Keyword-only parameters are left out of the count, as the interpreter leaves them out.
  std::string message = p.function;
  std::size_t count = p.positional();
  if (p.required == count) {
    message += " takes " + std::to_string(count) + " positional arguments";
  } else {
    message += " takes from " + std::to_string(p.required) + " to " + std::to_string(count) +
               " positional arguments";
  }
  message += " but " + plural(static_cast<std::size_t>(given), " was given", " were given");
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

bool missing_required(const Parameters& p, PyObject** out) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < p.required; ++i) {
    if (out[i] == nullptr) missing.push_back(p.names[i]);
  }
  if (missing.empty()) return true;
  std::string message =
      std::string(p.function) + " missing " +
      plural(missing.size(), " required positional argument: ", " required positional arguments: ");
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0)
      message += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
    message += "'" + std::string(missing[i]) + "'";
  }
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

// Puts one keyword argument in its slot; false with TypeError set for an unknown or repeated one.
bool bind_keyword(const Parameters& p, PyObject* keyword, PyObject* value, PyObject** out) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "%s keywords must be strings", p.function);
    return false;
  }
  std::string_view name(text, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < p.names.size(); ++i) {
    if (name != p.names[i]) continue;
    if (out[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", p.function,
                   p.names[i]);
      return false;
    }
    out[i] = value;
    return true;
  }
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", p.function, keyword);
  return false;
}

bool wrong_type(PyObject* object, const char* parameter, const char* target) {
  PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to '%s'", parameter,
               qualified_name(Py_TYPE(object)).c_str(), target);
  return false;
}

// NumPy's boolean scalar, recognised without importing NumPy.
bool is_numpy_bool(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  PyRef module =
      PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  const char* module_name =
      module && PyUnicode_Check(module.get()) ? PyUnicode_AsUTF8(module.get()) : nullptr;
  if (module_name == nullptr || std::strcmp(module_name, "numpy") != 0) {
    PyErr_Clear();
    return false;
  }
  PyRef name = PyRef::steal(PyType_GetName(type));
  const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    return false;
  }
  return std::strcmp(text, "bool_") == 0 || std::strcmp(text, "bool") == 0;
}

}  // namespace

bool bind_fast(const Parameters& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out) {
  if (static_cast<std::size_t>(nargs) > p.positional()) return too_many_positional(p, nargs);
  for (std::size_t i = 0; i < p.names.size(); ++i) out[i] = nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    if (!bind_keyword(p, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], out)) return false;
  }
  return missing_required(p, out);
}

bool bind_tuple(const Parameters& p, PyObject* args, PyObject* kwargs, PyObject** out) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (static_cast<std::size_t>(nargs) > p.positional()) return too_many_positional(p, nargs);
  for (std::size_t i = 0; i < p.names.size(); ++i) out[i] = nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs != nullptr) {
    PyObject* key;
    PyObject* value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!bind_keyword(p, key, value, out)) return false;
    }
  }
  return missing_required(p, out);
}

bool extract_string(PyObject* object, const char* parameter, std::string& out) {
  if (!PyUnicode_Check(object)) return wrong_type(object, parameter, "PyString");
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(object, &size);
  if (text == nullptr) return false;  // lone surrogates: the interpreter's UnicodeEncodeError
  out.assign(text, static_cast<std::size_t>(size));
  return true;
}

bool extract_path(PyObject* object, const char* parameter, std::string& out) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
  if (PyUnicode_Check(object) || PyBytes_Check(object) ||
      !PyObject_HasAttrString(type, "__fspath__")) {
    return extract_string(object, parameter, out);
  }
  PyRef path = PyRef::steal(PyOS_FSPath(object));
  if (!path) return false;  // __fspath__ raised: its own exception
  if (!PyUnicode_Check(path.get())) return wrong_type(object, parameter, "PyString");
  return extract_string(path.get(), parameter, out);
}

bool check_dict(PyObject* object, const char* parameter) {
  return PyDict_Check(object) || wrong_type(object, parameter, "PyDict");
}

bool check_list(PyObject* object, const char* parameter) {
  return PyList_Check(object) || wrong_type(object, parameter, "PyList");
}

bool extract_bool(PyObject* object, const char* parameter, bool& out) {
  if (PyBool_Check(object)) {
    out = object == Py_True;
    return true;
  }
  if (!is_numpy_bool(object)) return wrong_type(object, parameter, "PyBool");
  PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
  if (number == nullptr || number->nb_bool == nullptr) {
    PyRef type_text = PyRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(Py_TYPE(object))));
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': object of type '%S' does not define a '__bool__' conversion",
                 parameter, type_text.get());
    return false;
  }
  int truth = number->nb_bool(object);
  if (truth < 0) return false;
  out = truth != 0;
  return true;
}

}  // namespace zarvel
