// Applying the conditions of an update document to one document.
#pragma once

#include "query/query_engine.h"
#include "value/value.h"

namespace zarvel {

// Applies every condition of `engine` to `document` in the engine's order; later conditions see
// the changes of earlier ones. Only existing fields change: a condition whose field is absent, or
// whose path crosses a non-object, is skipped, as is an arithmetic condition on a non-number.
// Set stores a copy of the operand; Add/Substract combine field and operand, Increment/Decrement
// step by exactly 1 whatever the operand; their results are computed in double precision and
// stored as floats, or as null when not finite. Delete removes the member. Never fails.
void apply_update(const QueryEngine<UpdateOperator>& engine, Object& document);

// How deeply the Sets of `engine` can nest a document: for each Set, the objects that hold its
// field (the document and one per segment before the last, so as many as the path has segments)
// plus the levels of its operand; 0 without a Set. The other operators store numbers or null, or
// remove a field, so they never make a document deeper.
int deepest_set(const QueryEngine<UpdateOperator>& engine) noexcept;

}  // namespace zarvel
