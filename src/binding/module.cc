// The module initialiser and the Zarvel class object.
#include <Python.h>

#include "binding/errors.h"
#include "binding/methods.h"
#include "binding/zarvel_object.h"
#include "python/py_ref.h"

namespace zarvel {

namespace {

PyType_Slot kZarvelSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(zarvel_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(zarvel_dealloc)},
    {Py_tp_doc, const_cast<char*>("Zarvel(name, *, trace=True)\n--\n\n")},
    {Py_tp_methods, kZarvelMethods},
    {0, nullptr},
};

// No base-type flag (no subclassing), no GC tracking (the store holds no Python objects), no
// instance dict and no weak references.
PyType_Spec kZarvelSpec = {
    "builtins.Zarvel", sizeof(ZarvelObject), 0, Py_TPFLAGS_DEFAULT, kZarvelSlots,
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "zarvel",
    "A fast embedded JSON document store.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that first imported the module; the module holds process-wide state
// (the class, PanicException) and so refuses every other interpreter.
constexpr int64_t kNoInterpreter = -1;
int64_t first_interpreter = kNoInterpreter;
PyObject* module_object = nullptr;

bool add_class(PyObject* module) {
  PyTypeObject* type = zarvel_type();
  if (type == nullptr) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "zarvel.__all__ is not a list");
    return false;
  }
  // Callers catch internal failures by name: `except zarvel.PanicException`.
  for (const char* name : {"Zarvel", "PanicException"}) {
    PyRef text = PyRef::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
  }
  return PyObject_SetAttrString(module, "Zarvel", reinterpret_cast<PyObject*>(type)) == 0 &&
         PyObject_SetAttrString(module, "PanicException", panic_exception_type()) == 0;
}

}  // namespace

PyTypeObject* zarvel_type() {
  static PyObject* type = nullptr;
  if (type != nullptr) return reinterpret_cast<PyTypeObject*>(type);
  PyRef created = PyRef::steal(PyType_FromSpec(&kZarvelSpec));
  // The class documents itself only through its text signature.
  if (!created || PyObject_SetAttrString(created.get(), "__doc__", Py_None) < 0) {
    PyErr_Print();
    raise_panic("failed to create type object for Zarvel", std::source_location::current());
    return nullptr;
  }
  type = created.release();
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace zarvel

PyMODINIT_FUNC PyInit_zarvel() {
  using namespace zarvel;
  int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter == -1) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  if (first_interpreter == kNoInterpreter) {
    first_interpreter = interpreter;
  } else if (first_interpreter != interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "zarvel does not support sub-interpreters: it can be imported only by the "
                    "interpreter that imported it first");
    return nullptr;
  }
  if (module_object != nullptr) return Py_NewRef(module_object);
  PyRef module = PyRef::steal(PyModule_Create(&kModuleDef));
  if (!module || !add_class(module.get())) return nullptr;
  module_object = module.release();
  return Py_NewRef(module_object);
}
