// The trace line that names a condition's field path, as the update trace prints it.
#pragma once

#include <string>
#include <vector>

namespace zarvel {

// Appends the path as a bracketed list: each segment quoted as a debug form quotes a string
// (append_quoted), separated by ", ", `[]` when empty.
void append_fields_list(std::string& out, const std::vector<std::string>& fields);

}  // namespace zarvel
