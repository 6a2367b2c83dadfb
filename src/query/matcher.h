// Testing one document against the conditions of a query document.
#pragma once

#include "base/status.h"
#include "query/query_engine.h"
#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// Whether `document` satisfies every condition of `engine`, tested in the engine's order and
// stopping at the first that fails; an engine without conditions matches everything. A path that
// is absent, or crosses a non-object, leaves the field absent: only Exists false and Not can hold
// for it. Equality is value equality (1 and 1.0 differ); the ordering operators compare in double
// precision and return kInvalidArgument "Malformed query, non-numeric value found for operator
// <name>" when they reach a present field or an operand that is not a number. Or stops at the
// first branch that holds, And and Nor at the first that decides, ElemMatch at the first element
// that satisfies it. Reads only; copies and allocates nothing unless it fails.
Result<bool> matches(const QueryEngine<QueryOperator>& engine, const Object& document);
// The same for a packed document.
Result<bool> matches(const QueryEngine<QueryOperator>& engine, PackedObject document);

}  // namespace zarvel
