#include "binding/errors.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "convert/debug_form.h"

namespace zarvel {

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "zarvel.PanicException",
        "Raised when native code called from Python fails.\n\n"
        "Like SystemExit, it derives from BaseException, so that it typically propagates up the "
        "stack and makes the interpreter exit.",
        PyExc_BaseException, nullptr);
    if (type == nullptr) Py_FatalError("Failed to initialize new exception type.");
  }
  return type;
}

PyObject* os_error_class(int errnum) {
  switch (errnum) {
    case ENOENT:
      return PyExc_FileNotFoundError;
    case EPERM:
    case EACCES:
      return PyExc_PermissionError;
    case EEXIST:
      return PyExc_FileExistsError;
    case EAGAIN:
      return PyExc_BlockingIOError;
    case EINTR:
      return PyExc_InterruptedError;
    case ETIMEDOUT:
      return PyExc_TimeoutError;
    case EPIPE:
      return PyExc_BrokenPipeError;
    case ECONNREFUSED:
      return PyExc_ConnectionRefusedError;
    case ECONNRESET:
      return PyExc_ConnectionResetError;
    case ECONNABORTED:
      return PyExc_ConnectionAbortedError;
    default:
      return PyExc_OSError;
  }
}

namespace {

// What callers catch for each kind of failure.
PyObject* exception_class(const Status& status) {
  switch (status.kind()) {
    case ErrorKind::kSystemCall:
      return os_error_class(status.os_errno());
    case ErrorKind::kFileOperation:
      return PyExc_OSError;
    case ErrorKind::kBadContent:
    case ErrorKind::kNotFound:
    case ErrorKind::kInvalidArgument:
      return PyExc_ValueError;
    case ErrorKind::kWrongType:
      return PyExc_TypeError;
    case ErrorKind::kInternal:
      return panic_exception_type();
    case ErrorKind::kInterrupted:
      return PyExc_KeyboardInterrupt;  // only when the asker left no exception of its own
    case ErrorKind::kOk:
      break;
  }
  return PyExc_SystemError;
}

PyRef new_exception(PyObject* type, const std::string& message) {
  PyRef text = PyRef::steal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return PyRef();
  return PyRef::steal(PyObject_CallOneArg(type, text.get()));
}

std::string panic_message(const Status& status) {
  std::string message = status.message();
  if (const Status* cause = status.cause()) {
    PyRef exception = status_to_exception(*cause);
    if (exception) {
      message += pyerr_debug_form(exception.get());
    } else {
      PyErr_Clear();
      message += cause->message();
    }
  }
  return message;
}

// Source files are named from the project root, however the compiler was given them.
std::string_view project_path(std::string_view file) {
  std::size_t src = file.rfind("/src/");
  return src == std::string_view::npos ? file : file.substr(src + 1);
}

}  // namespace

PyRef status_to_exception(const Status& status) {
  if (status.kind() == ErrorKind::kInternal) {
    return new_exception(panic_exception_type(), panic_message(status));
  }
  return new_exception(exception_class(status), status.message());
}

namespace {

// Writes the diagnostic of an internal failure and makes its PanicException.
PyRef panic_with_diagnostic(const std::string& message, const std::source_location& where) {
  static bool noted = false;
  std::fprintf(stderr, "thread '<unnamed>' panicked at %.*s:%u:%u:\n%s\n",
               static_cast<int>(project_path(where.file_name()).size()),
               project_path(where.file_name()).data(), static_cast<unsigned>(where.line()),
               static_cast<unsigned>(where.column()), message.c_str());
  if (!noted) {
    noted = true;
    std::fputs("note: this is an internal failure of zarvel; the store stays usable\n", stderr);
  }
  std::fflush(stderr);
  return new_exception(panic_exception_type(), message);
}

// BaseException.add_note: shown under the message in a traceback, while str() stays the message.
// An exception that cannot take the note is raised without it.
void add_note(PyObject* exception, const std::string& note) {
  if (note.empty()) return;
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(note.data(), static_cast<Py_ssize_t>(note.size()), "replace"));
  PyRef done;
  if (text) done = PyRef::steal(PyObject_CallMethod(exception, "add_note", "O", text.get()));
  if (!done) PyErr_Clear();
}

PyObject* set_exception(const PyRef& exception) {
  if (exception)
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
  return nullptr;
}

}  // namespace

PyObject* raise_panic(const std::string& message, const std::source_location& where) {
  return set_exception(panic_with_diagnostic(message, where));
}

PyObject* raise_status(const Status& status) {
  // The signal handler's own exception is raised as it is.
  if (status.kind() == ErrorKind::kInterrupted && PyErr_Occurred()) return nullptr;
  PyRef exception = status.kind() == ErrorKind::kInternal
                        ? panic_with_diagnostic(panic_message(status), status.where())
                        : status_to_exception(status);
  if (exception) add_note(exception.get(), status.note());
  return set_exception(exception);
}

}  // namespace zarvel
