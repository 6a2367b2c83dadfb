// Applying the conditions of an update document to one document.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "query/query_engine.h"
#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

// Applies every condition of `engine` to `document` in the engine's order; later conditions see
// the changes of earlier ones. Only existing fields change: a condition whose field is absent, or
// whose path crosses a non-object, is skipped, as is an arithmetic condition on a non-number and
// Push or Pull on a non-array. Set stores a copy of the operand; Add/Substract combine field and
// operand, Increment/Decrement step by exactly 1 whatever the operand; their results are computed
// in double precision and stored as floats, or as null when not finite. Delete removes the member.
// Push appends a copy of the operand, Pull removes every element equal to it. Allocates only to
// copy a Set or Push operand (see Value::copy_allocates) and to grow an array, and fails only by
// throwing std::bad_alloc there.
void apply_update(const QueryEngine<UpdateOperator>& engine, Object& document);

// apply_update on packed documents, for the updates that only put numbers where numbers are:
// those change a document without changing its size, so they are made on its bytes in place.
class InPlaceUpdate {
 public:
  explicit InPlaceUpdate(const QueryEngine<UpdateOperator>& engine) : engine_(engine) {}

  // Where a number goes, and the number.
  struct Write {
    const char* at;
    Number number;
  };
  // Whether apply_update would change `document` only by replacing numbers with numbers (or not
  // at all). If so, appends those changes to `writes`, one per number changed, else leaves it as
  // it was. Changes nothing.
  bool plan(PackedObject document, std::vector<Write>& writes) const;
  // Makes the changes planned, in the bytes they name.
  static void apply(const std::vector<Write>& writes) noexcept;

 private:
  const QueryEngine<UpdateOperator>& engine_;
};

// How deeply the Sets of `engine` can nest a document: for each Set, the objects that hold its
// field (the document and one per segment before the last, so as many as the path has segments)
// plus the levels of its operand; 0 without a Set. The other operators store numbers or null, or
// remove a field, so they never make a document deeper.
int deepest_set(const QueryEngine<UpdateOperator>& engine) noexcept;

}  // namespace zarvel
