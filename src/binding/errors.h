// How failures reach Python: each kind of Status as its exception class (a failed system call as
// the OSError subclass of its error number, a failed file operation as OSError, bad content, a
// missing name or an invalid argument as ValueError), internal failures as PanicException.
#pragma once

#include <Python.h>

#include "base/status.h"
#include "python/py_ref.h"

namespace zarvel {

// PanicException (a BaseException subclass), created at first use. Borrowed reference.
PyObject* panic_exception_type();

// The exception class for an operating-system error number. Borrowed reference.
PyObject* os_error_class(int errnum);

// The exception `status` stands for, as a new instance whose only argument is its message. For an
// internal failure with a cause, the message ends with the cause's debug form.
PyRef status_to_exception(const Status& status);

// Sets the exception of a failed `status`, with the status's note added to it (an internal failure
// also writes its diagnostic to standard error); an interruption keeps the exception pending.
// Always returns null, so that a method can end with `return raise_status(s);`.
PyObject* raise_status(const Status& status);

// Raises PanicException with `message` after writing the diagnostic; returns null.
PyObject* raise_panic(const std::string& message, const std::source_location& where);

}  // namespace zarvel
