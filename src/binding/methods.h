// The method table of Zarvel and its constructor.
#pragma once

#include <Python.h>

namespace zarvel {

// The methods in slot order, ending with the sentinel.
extern PyMethodDef kZarvelMethods[];

// tp_new: Zarvel(name).
PyObject* zarvel_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
void zarvel_dealloc(PyObject* self);

}  // namespace zarvel
