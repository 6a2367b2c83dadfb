// Python str objects as UTF-8 text.
#pragma once

#include <Python.h>

#include <optional>
#include <string>

#include "python/py_ref.h"

namespace zarvel {

// The text of `str`, the result of a call that returns a str, as UTF-8. Nullopt, with the
// exception left pending, when that call failed or the str cannot be encoded (a lone surrogate).
inline std::optional<std::string> utf8_text(const PyRef& str) {
  if (!str) return std::nullopt;
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(str.get(), &size);
  if (text == nullptr) return std::nullopt;
  return std::string(text, static_cast<std::size_t>(size));
}

}  // namespace zarvel
