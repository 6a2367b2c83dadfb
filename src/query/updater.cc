#include "query/updater.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "query/field_path.h"
#include "value/limits.h"

namespace zarvel {
namespace {

Value numeric_result(double result) {
  return std::isfinite(result) ? Value(Number::from_float(result)) : Value();
}

// The conditions of `engine` applied to `document`; `set(condition, field)` stores the operand of
// `condition`, a Set, in `field`, and `push(condition, array)` appends it to `array`.
template <class SetField, class PushElement>
void apply_conditions(const QueryEngine<UpdateOperator>& engine, Object& document, SetField&& set,
                      PushElement&& push) {
  for (const Condition<UpdateOperator>& condition : engine.conditions()) {
    Object* parent = field_parent(document, condition.fields);
    if (parent == nullptr) continue;
    const std::string& last = condition.fields.back();
    Value* field = parent->find(last);
    if (field == nullptr) continue;

    switch (condition.op) {
      case UpdateOperator::Set:
        set(condition, *field);
        break;
      case UpdateOperator::Add:
      case UpdateOperator::Substract:
        if (field->is_number() && condition.value.is_number()) {
          double v = field->as_number().to_double();
          double q = condition.value.as_number().to_double();
          *field = numeric_result(condition.op == UpdateOperator::Add ? v + q : v - q);
        }
        break;
      case UpdateOperator::Increment:
      case UpdateOperator::Decrement:
        if (field->is_number()) {
          double v = field->as_number().to_double();
          *field = numeric_result(condition.op == UpdateOperator::Increment ? v + 1.0 : v - 1.0);
        }
        break;
      case UpdateOperator::Delete:
        parent->erase(last);
        break;
      case UpdateOperator::Push:
        if (field->is_array()) push(condition, field->as_array());
        break;
      case UpdateOperator::Pull:
        if (field->is_array()) {
          field->as_array().erase_if(
              [&condition](const Value& element) { return element == condition.value; });
        }
        break;
    }
  }
}

}  // namespace

void apply_update(const QueryEngine<UpdateOperator>& engine, Object& document) {
  apply_conditions(
      engine, document,
      [](const Condition<UpdateOperator>& condition, Value& field) { field = condition.value; },
      [](const Condition<UpdateOperator>& condition, Array& array) {
        array.push_back(condition.value);
      });
}

bool InPlaceUpdate::plan(PackedObject document, std::vector<Write>& writes) const {
  std::size_t first = writes.size();
  for (const Condition<UpdateOperator>& condition : engine_.conditions()) {
    std::optional<PackedValue> field = packed_field(document, condition.fields);
    if (!field) continue;
    // The field as earlier conditions left it: only ever a number where one changed it.
    std::optional<Number> number;
    Write* earlier = nullptr;
    for (std::size_t i = first; i < writes.size(); ++i) {
      if (writes[i].at == field->data()) earlier = &writes[i];
    }
    if (earlier != nullptr) {
      number = earlier->number;
    } else if (field->is_number()) {
      number = field->as_number();
    }
    Number result = Number::from_unsigned(0);
    switch (condition.op) {
      case UpdateOperator::Set:
        if (!number || !condition.value.is_number()) {
          writes.erase(writes.begin() + static_cast<std::ptrdiff_t>(first), writes.end());
          return false;
        }
        result = condition.value.as_number();
        break;
      case UpdateOperator::Add:
      case UpdateOperator::Substract:
      case UpdateOperator::Increment:
      case UpdateOperator::Decrement: {
        bool by_operand =
            condition.op == UpdateOperator::Add || condition.op == UpdateOperator::Substract;
        if (!number || (by_operand && !condition.value.is_number())) continue;
        double step = by_operand ? condition.value.as_number().to_double() : 1.0;
        bool adds =
            condition.op == UpdateOperator::Add || condition.op == UpdateOperator::Increment;
        double sum = adds ? number->to_double() + step : number->to_double() - step;
        if (!std::isfinite(sum)) {  // null takes less room than a number
          writes.erase(writes.begin() + static_cast<std::ptrdiff_t>(first), writes.end());
          return false;
        }
        result = Number::from_float(sum);
        break;
      }
      case UpdateOperator::Push:
      case UpdateOperator::Pull:
        if (!field->is_array()) continue;
        [[fallthrough]];
      case UpdateOperator::Delete:
        writes.erase(writes.begin() + static_cast<std::ptrdiff_t>(first), writes.end());
        return false;
    }
    if (earlier != nullptr) {
      earlier->number = result;
    } else {
      writes.push_back(Write{field->data(), result});
    }
  }
  return true;
}

void InPlaceUpdate::apply(const std::vector<Write>& writes) noexcept {
  for (const Write& write : writes) packed::write_number(const_cast<char*>(write.at), write.number);
}

int deepest_set(const QueryEngine<UpdateOperator>& engine) noexcept {
  int deepest = 0;
  for (const Condition<UpdateOperator>& condition : engine.conditions()) {
    // A pushed element sits one level below its path, inside the array.
    int below = condition.op == UpdateOperator::Set    ? 0
                : condition.op == UpdateOperator::Push ? 1
                                                       : -1;
    if (below < 0) continue;
    deepest = std::max(deepest, static_cast<int>(condition.fields.size()) + below +
                                    nesting_depth(condition.value));
  }
  return deepest;
}

}  // namespace zarvel
