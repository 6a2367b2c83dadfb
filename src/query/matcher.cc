#include "query/matcher.h"

#include <string>

#include "query/field_path.h"
#include "query/regex.h"
#include "query/value_set.h"

namespace zarvel {
namespace {

using QueryCondition = Condition<QueryOperator>;

Status non_numeric(QueryOperator op) {
  return Status::invalid_argument("Malformed query, non-numeric value found for operator " +
                                  std::string(operator_name(op)));
}

Result<bool> holds(const QueryCondition& condition, const Value* field);

// Whether every condition of `conditions` holds for the same value.
Result<bool> all_hold(const std::vector<QueryCondition>& conditions, const Value* field) {
  for (const QueryCondition& condition : conditions) {
    Result<bool> held = holds(condition, field);
    if (!held.ok() || !held.value()) return held;
  }
  return true;
}

// Both values are numbers.
[[gnu::always_inline]] inline bool compare_numbers(QueryOperator op, const Value& field,
                                                   const Value& operand) {
  double d = field.as_number().to_double();
  double q = operand.as_number().to_double();
  switch (op) {
    case QueryOperator::GreaterThan:
      return d > q;
    case QueryOperator::GreaterThanEqual:
      return d >= q;
    case QueryOperator::LessThan:
      return d < q;
    default:
      return d <= q;
  }
}

bool is_element(const QueryCondition& condition, const Value& field) {
  if (condition.set) return condition.set->contains(field);
  for (const Value& element : condition.value.as_array()) {
    if (element == field) return true;
  }
  return false;
}

bool holds_all(const Array& listed, const Array& elements) {
  for (const Value& wanted : listed) {
    bool found = false;
    for (const Value& element : elements) {
      if (element == wanted) {
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

Result<bool> elem_match(const QueryCondition& condition, const Array& elements) {
  for (const Value& element : elements) {
    Result<bool> held = true;
    if (condition.branches.empty()) {
      held = all_hold(condition.operators, &element);
    } else if (element.is_object()) {
      held = matches(condition.branches.front(), element.as_object());
    } else {
      continue;
    }
    if (!held.ok() || held.value()) return held;
  }
  return false;
}

Result<bool> logical(const QueryCondition& condition, const Object& document) {
  // And holds unless a branch fails; Or fails unless a branch holds; Nor holds unless one holds.
  bool stop_when = condition.op != QueryOperator::And;
  for (const QueryEngine<QueryOperator>& branch : condition.branches) {
    Result<bool> held = matches(branch, document);
    if (!held.ok()) return held;
    if (held.value() == stop_when) return condition.op == QueryOperator::Or;
  }
  return condition.op != QueryOperator::Or;
}

// Whether `condition` holds for `field`, the value at its path (null when absent).
Result<bool> holds(const QueryCondition& condition, const Value* field) {
  const Value& operand = condition.value;
  switch (condition.op) {
    case QueryOperator::Equal:
      return field != nullptr && *field == operand;
    case QueryOperator::NotEqual:
      return field != nullptr && !(*field == operand);
    case QueryOperator::GreaterThan:
    case QueryOperator::GreaterThanEqual:
    case QueryOperator::LessThan:
    case QueryOperator::LessThanEqual:
      if (field == nullptr) return false;
      if (!field->is_number() || !operand.is_number()) return non_numeric(condition.op);
      return compare_numbers(condition.op, *field, operand);
    case QueryOperator::In:
      return field != nullptr && is_element(condition, *field);
    case QueryOperator::NotIn:
      return field != nullptr && !is_element(condition, *field);
    case QueryOperator::Exists:
      return (field != nullptr) == operand.as_bool();
    case QueryOperator::Not: {
      Result<bool> held = all_hold(condition.operators, field);
      if (!held.ok()) return held;
      return !held.value();
    }
    case QueryOperator::Regex:
      return field != nullptr && field->is_string() && condition.regex->search(field->as_string());
    case QueryOperator::Size:
      return field != nullptr && field->is_array() &&
             field->as_array().size() == operand.as_number().as_unsigned();
    case QueryOperator::All:
      return field != nullptr && field->is_array() &&
             holds_all(operand.as_array(), field->as_array());
    case QueryOperator::ElemMatch:
      if (field == nullptr || !field->is_array()) return false;
      return elem_match(condition, field->as_array());
    case QueryOperator::And:
    case QueryOperator::Or:
    case QueryOperator::Nor:
      break;  // never built with a path
  }
  return false;
}

}  // namespace

Result<bool> matches(const QueryEngine<QueryOperator>& engine, const Object& document) {
  for (const QueryCondition& condition : engine.conditions()) {
    if (is_logical(condition.op)) {
      Result<bool> held = logical(condition, document);
      if (!held.ok() || !held.value()) return held;
      continue;
    }
    const Object* parent = field_parent(document, condition.fields);
    const Value* field = parent == nullptr ? nullptr : parent->find(condition.fields.back());
    // The operators of almost every query, tested here without building a result for each.
    bool held;
    switch (condition.op) {
      case QueryOperator::Equal:
        held = field != nullptr && *field == condition.value;
        break;
      case QueryOperator::NotEqual:
        held = field != nullptr && !(*field == condition.value);
        break;
      case QueryOperator::GreaterThan:
      case QueryOperator::GreaterThanEqual:
      case QueryOperator::LessThan:
      case QueryOperator::LessThanEqual:
        if (field == nullptr) return false;
        if (!field->is_number() || !condition.value.is_number()) return non_numeric(condition.op);
        held = compare_numbers(condition.op, *field, condition.value);
        break;
      case QueryOperator::In:
        held = field != nullptr && is_element(condition, *field);
        break;
      default: {
        Result<bool> general = holds(condition, field);
        if (!general.ok()) return general;
        held = general.value();
      }
    }
    if (!held) return false;
  }
  return true;
}

}  // namespace zarvel
