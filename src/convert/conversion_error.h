// The error value of the conversion between Python objects and document values.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

#include "python/py_ref.h"

namespace zarvel {

// The qualified name of `type` as UTF-8, or "unknown" (with the host's error cleared).
std::string qualified_name(PyTypeObject* type);

class ConversionError {
 public:
  enum class Kind : unsigned char {
    kPyErr,            // a Python exception raised by a host call, carried unchanged
    kMessage,          // the store's own text
    kUnsupportedType,  // a type no document may contain
    kUnexpectedType,   // a failed type check (a non-str key, a bytearray)
    // A query holding what no query may hold (NaN, an infinity). The text is the whole message,
    // "Malformed query, " first.
    kMalformedQuery,
    // A signal handler raised while the conversion asked for pending signals: the exception is
    // carried unchanged, to be raised as it is.
    kInterrupted,
  };

  // Takes the interpreter's pending exception and clears it. With none pending (a host call that
  // failed without saying why) it carries a SystemError instead.
  static ConversionError fetch();
  // Takes the pending exception that a signal handler raised, as fetch() does.
  static ConversionError interrupted();
  static ConversionError message(std::string text) {
    return ConversionError(Kind::kMessage, std::move(text));
  }
  // "Malformed query, " followed by `what`.
  static ConversionError malformed_query(std::string_view what) {
    return ConversionError(Kind::kMalformedQuery, "Malformed query, " + std::string(what));
  }
  // Carries the qualified name of `type`, "unknown" when that cannot be had.
  static ConversionError unsupported_type(PyTypeObject* type);
  // "unexpected type: '<qualified name of object_type>' object cannot be converted to
  // '<expected_type>'".
  static ConversionError unexpected_type(PyTypeObject* object_type, std::string_view expected_type);

  ConversionError(ConversionError&&) noexcept = default;
  ConversionError& operator=(ConversionError&&) noexcept = default;

  Kind kind() const noexcept { return kind_; }
  // The message, the unsupported type's name or the unexpected-type text; empty for kPyErr.
  const std::string& text() const noexcept { return text_; }
  // The captured exception instance (borrowed, valid while this error lives); null unless kPyErr
  // or kInterrupted.
  // The binding checks it for a PanicException raised by user code.
  PyObject* exception() const noexcept { return exception_.get(); }

  // The error as text, e.g. "unsupported type Point". For kPyErr this runs str() on the
  // exception; it may call Python code and never fails.
  std::string display() const;
  // The kind's name and its text as a quoted, escaped string: UnsupportedType("Point"),
  // Message("JSON number out of range"); for kPyErr the exception's own debug form (PyErr { ... }).
  // May call Python code (reprs); never fails.
  std::string debug_form() const;

 private:
  ConversionError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
  explicit ConversionError(PyRef exception)
      : kind_(Kind::kPyErr), exception_(std::move(exception)) {}

  Kind kind_;
  std::string text_;
  PyRef exception_;
};

}  // namespace zarvel
