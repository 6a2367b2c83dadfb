#include "query/matcher.h"

#include <string>

#include "query/field_path.h"

namespace zarvel {
namespace {

Status non_numeric(QueryOperator op) {
  return Status::value_error("Malformed query, non-numeric value found for operator " +
                             std::string(operator_name(op)));
}

}  // namespace

Result<bool> matches(const QueryEngine<QueryOperator>& engine, const Object& document) {
  for (const Query<QueryOperator>& query : engine.queries()) {
    const Object* parent = field_parent(document, query.fields);
    if (parent == nullptr) return false;
    const Value* field = parent->find(query.fields.back());
    if (field == nullptr) return false;

    bool holds;
    switch (query.op) {
      case QueryOperator::Equal:
        holds = *field == query.value;
        break;
      case QueryOperator::NotEqual:
        holds = !(*field == query.value);
        break;
      default: {
        if (!field->is_number() || !query.value.is_number()) return non_numeric(query.op);
        double d = field->as_number().to_double();
        double q = query.value.as_number().to_double();
        switch (query.op) {
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
