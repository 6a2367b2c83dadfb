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

// apply_update over many documents, all or nothing when memory runs out. Copying Set operands is
// the only step that allocates, so every copy the documents may take is made before the first of
// them changes, and applying then only moves values into place. Use: count() each document the
// update is for, prepare(), then apply() to those same documents, which must not change between
// their count() and their apply().
class PreparedUpdate {
 public:
  explicit PreparedUpdate(const QueryEngine<UpdateOperator>& engine);

  // Whether some Set or Push copies an operand that takes memory. If not, there is nothing to
  // count or prepare, and apply_update serves as well as apply().
  bool needs_copies() const noexcept { return needs_copies_; }
  // Whether some Push appends to an array, which must then have room for it: see make_room().
  bool has_pushes() const noexcept { return has_pushes_; }
  // Grows each array of `document` that a Push appends to, so that appending allocates nothing;
  // the content stays as it is. Throws std::bad_alloc. (An array that an earlier Set of the same
  // update puts in place may still grow while applying.)
  void make_room(Object& document);
  // Counts the copies `document`, as it is before the update, may take: one for each such Set
  // whose path resolves in it, or whose path an earlier Set may have made (its path is a prefix).
  void count(const Object& document) noexcept;
  // Makes the copies counted. Throws std::bad_alloc, and then no document has changed.
  void prepare();
  // apply_update taking Set operands from the prepared copies: allocates nothing for a document
  // that was counted.
  void apply(Object& document);

 private:
  struct Copies {
    bool needed = false;    // a Set whose operand takes memory to copy
    bool always = false;    // an earlier Set may make its path resolve
    std::size_t count = 0;  // copies counted
    std::size_t next = 0;   // the next prepared copy to take
    std::size_t end = 0;    // one past the last
  };
  // A copy of the operand of condition `index`, a Set: a prepared one moved out where there is.
  Value copy_of(std::size_t index);

  const QueryEngine<UpdateOperator>& engine_;
  std::vector<Copies> copies_;  // one per condition
  std::vector<Value> prepared_;
  bool needs_copies_ = false;
  bool has_pushes_ = false;
};

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
