#include "convert/debug_form.h"

#include <cstdio>

#include "binding/py_ref.h"

namespace zarvel {

namespace {

void append_code_point_escape(std::string& out, unsigned code_point) {
  char buffer[16];
  int n = std::snprintf(buffer, sizeof buffer, "\\u{%x}", code_point);
  out.append(buffer, static_cast<std::size_t>(n));
}

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

std::string quoted_debug_string(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\0':
        out += "\\0";
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      append_code_point_escape(out, c);
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // U+0080 to U+009F, the C1 controls, are two bytes in UTF-8.
      append_code_point_escape(out, static_cast<unsigned char>(text[i + 1]));
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

std::string pyerr_debug_form(PyObject* exc) {
  // The reprs below run Python code, which must not see an exception that is already pending.
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* pending = PyErr_GetRaisedException();
#else
  PyObject *pending_type, *pending_value, *pending_traceback;
  PyErr_Fetch(&pending_type, &pending_value, &pending_traceback);
#endif

  std::string out = "PyErr { type: ";
  out += repr_or_placeholder(reinterpret_cast<PyObject*>(Py_TYPE(exc)));
  out += ", value: ";
  out += repr_or_placeholder(exc);
  out += ", traceback: ";
  PyRef traceback = PyRef::steal(PyException_GetTraceback(exc));
  if (traceback) {
    out += "Some(";
    out += repr_or_placeholder(traceback.get());
    out += ")";
  } else {
    out += "None";
  }
  out += " }";

#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(pending);
#else
  PyErr_Restore(pending_type, pending_value, pending_traceback);
#endif
  return out;
}

}  // namespace zarvel
