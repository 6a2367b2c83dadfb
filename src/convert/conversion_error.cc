#include "convert/conversion_error.h"

#include "base/compat_texts.h"
#include "convert/debug_form.h"
#include "python/str.h"

namespace zarvel {

std::string qualified_name(PyTypeObject* type) {
  if (auto name = utf8_text(PyRef::steal(PyType_GetQualName(type)))) return *std::move(name);
  PyErr_Clear();
  return "unknown";
}

ConversionError ConversionError::fetch() {
  PyRef exception = PyRef::steal(PyErr_GetRaisedException());
  if (!exception) {
    PyErr_SetString(PyExc_SystemError, "error return without exception set");
    return fetch();
  }
  return ConversionError(std::move(exception));
}

ConversionError ConversionError::interrupted() {
  ConversionError error = fetch();
  error.kind_ = Kind::kInterrupted;
  return error;
}

ConversionError ConversionError::unsupported_type(PyTypeObject* type) {
  return ConversionError(Kind::kUnsupportedType, qualified_name(type));
}

ConversionError ConversionError::unexpected_type(PyTypeObject* object_type,
                                                 std::string_view expected_type) {
  std::string text = "unexpected type: '";
  text += qualified_name(object_type);
  text += "' object cannot be converted to '";
  text += expected_type;
  text += "'";
  return ConversionError(Kind::kUnexpectedType, std::move(text));
}

std::string ConversionError::display() const {
  switch (kind_) {
    case Kind::kPyErr:
    case Kind::kInterrupted: {
      PyRef str = PyRef::steal(PyObject_Str(exception_.get()));
      if (auto text = utf8_text(str)) return *std::move(text);
      PyErr_Clear();
      return "<unprintable exception>";
    }
    case Kind::kUnsupportedType:
      return "unsupported type " + text_;
    case Kind::kMessage:
    case Kind::kUnexpectedType:
    case Kind::kMalformedQuery:
      break;
  }
  return text_;
}

std::string ConversionError::debug_form() const {
  switch (kind_) {
    case Kind::kPyErr:
    case Kind::kInterrupted:
      return pyerr_debug_form(exception_.get());
    case Kind::kMessage:
      return variant_debug_form("Message", text_);
    case Kind::kUnsupportedType:
      return variant_debug_form("UnsupportedType", text_);
    case Kind::kUnexpectedType:
      return variant_debug_form("UnexpectedType", text_);
    case Kind::kMalformedQuery:
      return variant_debug_form("MalformedQuery", text_);
  }
  return {};
}

}  // namespace zarvel
