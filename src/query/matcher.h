// Testing one document against the conditions of a query document.
#pragma once

#include "base/status.h"
#include "query/query_engine.h"
#include "value/value.h"

namespace zarvel {

// Whether `document` satisfies every condition of `engine`, tested in the engine's order and
// stopping at the first that fails; an engine without conditions matches everything. A field that
// is absent, or whose path crosses a non-object, fails every condition, NotEqual included.
// Equal/NotEqual use value equality (1 and 1.0 differ); the ordering operators compare in double
// precision and return kInvalidArgument "Malformed query, non-numeric value found for operator
// <name>" when the field or the operand is not a number. Reads only; copies and allocates nothing
// unless it fails.
Result<bool> matches(const QueryEngine<QueryOperator>& engine, const Object& document);

}  // namespace zarvel
