// Debug forms: the text that follows "called `Result::unwrap()` on an `Err` value: " in the
// message of an internal failure.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>

namespace zarvel {

// "PyErr { type: <repr of its type>, value: <repr of exc>, traceback: None }", with
// "Some(<repr of the traceback>)" in place of None when the exception carries one. `exc` is a
// borrowed exception instance. A repr that fails goes to the unraisable hook and is replaced by
// "<unprintable NAME object>". Never fails; an exception pending on entry is pending again on return.
std::string pyerr_debug_form(PyObject* exc);

// `text` as a double-quoted string with \" \\ \n \r \t \0 escaped and the other control characters
// written as \u{hex}. `text` is UTF-8.
std::string quoted_debug_string(std::string_view text);

}  // namespace zarvel
