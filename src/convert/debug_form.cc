#include "convert/debug_form.h"

#include <optional>

#include "base/compat_texts.h"
#include "python/py_ref.h"
#include "python/str.h"

namespace zarvel {

namespace {

// repr(object) as UTF-8; a failure is reported to the unraisable hook and stands in as a
// placeholder naming the object's type.
std::string repr_or_placeholder(PyObject* object) {
  if (auto repr = utf8_text(PyRef::steal(PyObject_Repr(object)))) return *std::move(repr);
  PyErr_WriteUnraisable(object);
  if (auto name = utf8_text(PyRef::steal(PyType_GetName(Py_TYPE(object))))) {
    return "<unprintable " + *name + " object>";
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
  std::string out =
      zarvel::pyerr_debug_form(repr_or_placeholder(reinterpret_cast<PyObject*>(Py_TYPE(exc))),
                               repr_or_placeholder(exc), traceback_repr);

  PyErr_SetRaisedException(pending);
  return out;
}

}  // namespace zarvel
