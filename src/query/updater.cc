#include "query/updater.h"

#include <algorithm>
#include <cmath>

#include "query/field_path.h"
#include "value/limits.h"

namespace zarvel {
namespace {

Value numeric_result(double result) {
  return std::isfinite(result) ? Value(Number::from_float(result)) : Value();
}

}  // namespace

void apply_update(const QueryEngine<UpdateOperator>& engine, Object& document) {
  for (const Query<UpdateOperator>& query : engine.queries()) {
    Object* parent = field_parent(document, query.fields);
    if (parent == nullptr) continue;
    const std::string& last = query.fields.back();
    Value* field = parent->find(last);
    if (field == nullptr) continue;

    switch (query.op) {
      case UpdateOperator::Set:
        *field = query.value;
        break;
      case UpdateOperator::Add:
      case UpdateOperator::Substract:
        if (field->is_number() && query.value.is_number()) {
          double v = field->as_number().to_double();
          double q = query.value.as_number().to_double();
          *field = numeric_result(query.op == UpdateOperator::Add ? v + q : v - q);
        }
        break;
      case UpdateOperator::Increment:
      case UpdateOperator::Decrement:
        if (field->is_number()) {
          double v = field->as_number().to_double();
          *field = numeric_result(query.op == UpdateOperator::Increment ? v + 1.0 : v - 1.0);
        }
        break;
      case UpdateOperator::Delete:
        parent->erase(last);
        break;
    }
  }
}

int deepest_set(const QueryEngine<UpdateOperator>& engine) noexcept {
  int deepest = 0;
  for (const Query<UpdateOperator>& query : engine.queries()) {
    if (query.op != UpdateOperator::Set) continue;
    deepest = std::max(deepest, static_cast<int>(query.fields.size()) + nesting_depth(query.value));
  }
  return deepest;
}

}  // namespace zarvel
