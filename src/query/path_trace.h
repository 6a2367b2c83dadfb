// The trace line that names a condition's field path, as the update trace prints it.
#pragma once

#include <string>
#include <vector>

namespace zarvel {

// Appends the path as a bracketed list: each segment in double quotes, separated by ", ", `[]`
// when empty. Inside a segment `"` and `\` get a backslash; tab, carriage return, line feed and
// NUL become \t, \r, \n and \0; other non-printable code points (controls, format characters,
// separators other than the space, private-use and noncharacter code points, the unassigned
// planes) become \u{hex}, lowercase without leading zeros. A byte that is not part of valid
// UTF-8 is written as \xHH.
void append_fields_list(std::string& out, const std::vector<std::string>& fields);

}  // namespace zarvel
