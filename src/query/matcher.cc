#include "query/matcher.h"

#include <string>

#include "query/field_path.h"

namespace zarvel {
namespace {

Status non_numeric(QueryOperator op) {
  return Status::invalid_argument("Malformed query, non-numeric value found for operator " +
                                  std::string(operator_name(op)));
}

}  // namespace

Result<bool> matches(const QueryEngine<QueryOperator>& engine, const Object& document) {
  for (const Condition<QueryOperator>& condition : engine.conditions()) {
    const Object* parent = field_parent(document, condition.fields);
    if (parent == nullptr) return false;
    const Value* field = parent->find(condition.fields.back());
    if (field == nullptr) return false;

    bool holds;
    switch (condition.op) {
      case QueryOperator::Equal:
        holds = *field == condition.value;
        break;
      case QueryOperator::NotEqual:
        holds = !(*field == condition.value);
        break;
      default: {
        if (!field->is_number() || !condition.value.is_number()) return non_numeric(condition.op);
        double d = field->as_number().to_double();
        double q = condition.value.as_number().to_double();
        switch (condition.op) {
          case QueryOperator::GreaterThan:
            holds = d > q;
            break;
          case QueryOperator::GreaterThanEqual:
            holds = d >= q;
            break;
          case QueryOperator::LessThan:
            holds = d < q;
            break;
          default:
            holds = d <= q;
            break;
        }
      }
    }
    if (!holds) return false;
  }
  return true;
}

}  // namespace zarvel
