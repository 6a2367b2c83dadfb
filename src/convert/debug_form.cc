#include "convert/debug_form.h"

#include <optional>

#include "base/compat_texts.h"
#include "python/py_ref.h"

namespace zarvel {

namespace {

// repr(object) as UTF-8; a failure is reported to the unraisable hook and stands in as a placeholder
// naming the object's type.
std::string repr_or_placeholder(PyObject* object) {
  PyRef repr = PyRef::steal(PyObject_Repr(object));
  if (repr) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(repr.get(), &size);
    if (text != nullptr) return std::string(text, static_cast<std::size_t>(size));
  }
  PyErr_WriteUnraisable(object);
  PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(object)));
  if (name) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (text != nullptr) {
      return "<unprintable " + std::string(text, static_cast<std::size_t>(size)) + " object>";
    }
  }
  PyErr_Clear();
  return "<unprintable object>";
}

}  // namespace

std::string pyerr_debug_form(PyObject* exc) {
  // The reprs below run Python code, which must not see an exception that is already pending.
  PyObject* pending = PyErr_GetRaisedException();

  std::optional<std::string> traceback_repr;
  if (PyRef traceback = PyRef::steal(PyException_GetTraceback(exc))) {
    traceback_repr = repr_or_placeholder(traceback.get());
  }
  std::string out = zarvel::pyerr_debug_form(repr_or_placeholder(reinterpret_cast<PyObject*>(Py_TYPE(exc))),
                                             repr_or_placeholder(exc), traceback_repr);

  PyErr_SetRaisedException(pending);
  return out;
}

}  // namespace zarvel
