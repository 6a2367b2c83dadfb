// The dotted field paths that find's sort and fields options name, read as query paths are.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// The segments of `path`, split at every ".", empty pieces included: "a..b" names the key "" in
// between, as in a query.
std::vector<std::string> split_dotted_path(std::string_view path);

// The value that `segments` (at least one) names inside `document`; null when a segment is absent,
// when a segment before the last is not an object (arrays are never entered), or when `document`
// is not an object. The pointer lives until the document is next changed.
const Value* value_at_path(const Value& document,
                           const std::vector<std::string>& segments) noexcept;
// The same inside a packed document, read in place; the view lives as long as the document's bytes.
std::optional<PackedValue> value_at_path(PackedValue document,
                                         const std::vector<std::string>& segments) noexcept;

}  // namespace zarvel
