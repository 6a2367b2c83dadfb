// The fixed texts of internal failures and of a few errors, in the forms callers and their tests
// already match: the two unwrap messages, the debug forms of errors, and the quoting of strings
// inside them and inside the update trace. Each text is written here and nowhere else.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarvel {

// An error was not expected here; its debug form follows.
inline constexpr std::string_view kUnwrapErrPrefix =
    "called `Result::unwrap()` on an `Err` value: ";
// An expected value was absent.
inline constexpr std::string_view kUnwrapNone = "called `Option::unwrap()` on a `None` value";

// The texts of the two system errors that have no error number.
inline constexpr std::string_view kNulInFileName = "file name contained an unexpected NUL byte";
inline constexpr std::string_view kShortWrite = "failed to write whole buffer";

// The short form of a system error: "No such file or directory (os error 2)".
std::string os_short_form(int errnum);

// The debug form of a system error: Os { code: 13, kind: PermissionDenied, message: "Permission
// denied" }, the kind named after the error number.
std::string os_debug_form(int errnum);

// The debug form of a Python exception, from the reprs of its type, of itself and of its traceback
// when it has one: PyErr { type: <class 'ValueError'>, value: ValueError('x'), traceback: None }.
std::string pyerr_debug_form(std::string_view type_repr, std::string_view value_repr,
                             const std::optional<std::string>& traceback_repr);

// A tagged text in debug form: Message("JSON number out of range").
std::string variant_debug_form(std::string_view tag, std::string_view text);

// Appends `text` in double quotes as a debug form shows a string: `"` and `\` get a backslash; tab,
// carriage return, line feed and NUL become \t, \r, \n and \0; every other code point that does not
// print (controls, format characters such as U+200B, separators other than the space, private-use
// and noncharacter code points, unassigned planes) becomes \u{hex}, lowercase without leading
// zeros; a byte that is not part of valid UTF-8 becomes \xHH.
void append_quoted(std::string& out, std::string_view text);
std::string debug_quoted(std::string_view text);

}  // namespace zarvel
