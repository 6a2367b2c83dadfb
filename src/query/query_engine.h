// Query and update documents turned into ordered lists of conditions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "query/operators.h"
#include "value/value.h"

namespace zarvel {

// One condition: the field path (outermost key first), the operand and the operator. The
// condition owns its copy of the operand.
template <class Op>
struct Condition {
  std::vector<std::string> fields;
  Value value;
  Op op;
};

// Appends to `fields` the path segments of `key` (split at every ".", empty pieces included) and
// of the nested objects below it, following only the first member (in key order) of each. A
// member whose key begins with "$" ends the path: that keyword is appended as the last element
// and a copy of its value is returned. Otherwise the innermost boolean, number or string is
// returned as a copy. Internal failures: "Error while parsing query" for an object without
// members, "Not Valid query" for null or an array reached without a keyword. On failure `fields`
// holds whatever was appended so far.
Result<Value> parse_query(std::string_view key, const Value& value,
                          std::vector<std::string>& fields);

// The conditions of one query document (Op = QueryOperator) or update document
// (Op = UpdateOperator), one per top-level member, in ascending key order. Immutable once built.
template <class Op>
class QueryEngine {
 public:
  // Builds the conditions of `document`. A condition without a keyword gets the default operator
  // (Equal, Set). Internal failures, the first of which ends the build: those of parse_query,
  // "Unknown query operator found: " / "Unknown update query operator found: " + the keyword,
  // and "Missing field path for operator " + the keyword for a top-level key that is itself a
  // known keyword. Update engines append two lines per condition to `*trace` when it is not null,
  // "Update operator found <name>\n" and "Fields: [...]\n", and the lines of the condition that
  // lacks a field path are written before that failure; the caller writes them out even when the
  // build fails. Query engines never write to `trace`.
  static Result<QueryEngine> build(const Object& document, std::string* trace);

  const std::vector<Condition<Op>>& conditions() const noexcept { return conditions_; }

 private:
  explicit QueryEngine(std::vector<Condition<Op>> conditions)
      : conditions_(std::move(conditions)) {}

  // Every path holds at least one segment.
  std::vector<Condition<Op>> conditions_;
};

extern template class QueryEngine<QueryOperator>;
extern template class QueryEngine<UpdateOperator>;

}  // namespace zarvel
