#include "query/path_trace.h"

#include "base/compat_texts.h"

namespace zarvel {

void append_fields_list(std::string& out, const std::vector<std::string>& fields) {
  out += '[';
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) out += ", ";
    append_quoted(out, fields[i]);
  }
  out += ']';
}

}  // namespace zarvel
