// Query and update documents turned into ordered lists of conditions.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "query/operators.h"
#include "value/value.h"

namespace zarvel {

class Regex;
class ValueSet;
template <class Op>
class QueryEngine;

// One condition: the field path (outermost key first), the operand and the operator. The
// condition owns its copy of the operand. Query conditions may carry more, prepared when the
// query is built so that no document pays for it:
template <class Op>
struct Condition {
  std::vector<std::string> fields;
  Value value;
  Op op;
  // Regex: the compiled pattern.
  std::shared_ptr<const Regex> regex;
  // In, NotIn: the operand's elements indexed by value, when there are enough to pay for it.
  std::shared_ptr<const ValueSet> set;
  // Not, and ElemMatch over the elements themselves: the operators applied to the same value,
  // with empty paths.
  std::vector<Condition> operators;
  // And, Or, Nor: one engine per listed query document. ElemMatch over object elements: one.
  std::vector<QueryEngine<Op>> branches;
};

// The conditions of one query document (Op = QueryOperator) or update document
// (Op = UpdateOperator), in ascending key order, the members of each nested object depth first in
// ascending key order too. Immutable once built.
//
// Each member contributes the segments of its key (split at every ".", empty pieces included),
// then: a boolean, number or string ends the path as an operand; an object contributes each of its
// members, where a key beginning with "$" ends the path with that keyword and its value as the
// operand, and any other key extends the path. A path whose last segment is a keyword takes it as
// its operator. An operand after a keyword is not parsed further.
template <class Op>
class QueryEngine {
 public:
  // Builds the conditions of `document`. A condition without a keyword gets the default operator
  // (Equal, Set). Internal failures, the first of which ends the build: "Error while parsing
  // query" for an object without members, "Not Valid query" for null or an array reached without
  // a keyword, "Unknown query operator found: " / "Unknown update query operator found: " + the
  // keyword, "Missing field path for operator " + the keyword for a path made of the keyword
  // alone, and "Malformed query, ..." for an operand a query operator cannot take. Update engines
  // append two lines per condition to `*trace` when it is not null, "Update operator found
  // <name>\n" and "Fields: [...]\n", and the lines of the condition that lacks a field path are
  // written before that failure; the caller writes them out even when the build fails. Query
  // engines never write to `trace`.
  static Result<QueryEngine> build(const Object& document, std::string* trace);

  const std::vector<Condition<Op>>& conditions() const noexcept { return conditions_; }

 private:
  explicit QueryEngine(std::vector<Condition<Op>> conditions)
      : conditions_(std::move(conditions)) {}

  // Every path holds at least one segment, except those of logical operators.
  std::vector<Condition<Op>> conditions_;
};

extern template class QueryEngine<QueryOperator>;
extern template class QueryEngine<UpdateOperator>;

}  // namespace zarvel
