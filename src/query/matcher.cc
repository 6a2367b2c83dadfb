#include "query/matcher.h"

#include <optional>
#include <string>
#include <type_traits>

#include "query/field_path.h"
#include "query/regex.h"
#include "query/value_set.h"

namespace zarvel {
namespace {

using QueryCondition = Condition<QueryOperator>;

// A document is read in either form: a Value tree, or packed bytes. `Field` is what a lookup
// gives: a pointer to the value, or the packed view; empty when the field is absent.
template <class Document>
struct Form;
template <>
struct Form<Object> {
  using Field = const Value*;
  static Field of(const Value& value) { return &value; }
};
template <>
struct Form<PackedObject> {
  using Field = std::optional<PackedValue>;
  static Field of(PackedValue value) { return value; }
};
template <class Document>
using FieldOf = typename Form<Document>::Field;

// The value at `fields` inside `document`, if it has one.
template <class Document>
[[gnu::always_inline]] inline FieldOf<Document> field_at(const Document& document,
                                                         const std::vector<std::string>& fields) {
  if constexpr (std::is_same_v<Document, Object>) {
    const Object* parent = field_parent(document, fields);
    return parent == nullptr ? nullptr : parent->find(fields.back());
  } else {
    return packed_field(document, fields);
  }
}

Status non_numeric(QueryOperator op) {
  return Status::invalid_argument("Malformed query, non-numeric value found for operator " +
                                  std::string(operator_name(op)));
}

template <class Field>
Result<bool> holds(const QueryCondition& condition, const Field& field);
template <class Document>
Result<bool> matches_document(const QueryEngine<QueryOperator>& engine, const Document& document);

// Whether every condition of `conditions` holds for the same value.
template <class Field>
Result<bool> all_hold(const std::vector<QueryCondition>& conditions, const Field& field) {
  for (const QueryCondition& condition : conditions) {
    Result<bool> held = holds(condition, field);
    if (!held.ok() || !held.value()) return held;
  }
  return true;
}

// Both values are numbers.
template <class Element>
[[gnu::always_inline]] inline bool compare_numbers(QueryOperator op, const Element& field,
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

template <class Element>
bool is_element(const QueryCondition& condition, const Element& field) {
  if (condition.set) return condition.set->contains(field);
  for (const Value& element : condition.value.as_array()) {
    if (element == field) return true;
  }
  return false;
}

template <class ArrayT>
bool holds_all(const Array& listed, const ArrayT& elements) {
  for (const Value& wanted : listed) {
    bool found = false;
    for (auto&& element : elements) {
      if (element == wanted) {
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

template <class ArrayT>
Result<bool> elem_match(const QueryCondition& condition, const ArrayT& elements) {
  for (auto&& element : elements) {
    Result<bool> held = true;
    if (condition.branches.empty()) {
      using Document = std::conditional_t<std::is_same_v<ArrayT, Array>, Object, PackedObject>;
      held = all_hold(condition.operators, Form<Document>::of(element));
    } else if (element.is_object()) {
      held = matches_document(condition.branches.front(), element.as_object());
    } else {
      continue;
    }
    if (!held.ok() || held.value()) return held;
  }
  return false;
}

template <class Document>
Result<bool> logical(const QueryCondition& condition, const Document& document) {
  // And holds unless a branch fails; Or fails unless a branch holds; Nor holds unless one holds.
  bool stop_when = condition.op != QueryOperator::And;
  for (const QueryEngine<QueryOperator>& branch : condition.branches) {
    Result<bool> held = matches_document(branch, document);
    if (!held.ok()) return held;
    if (held.value() == stop_when) return condition.op == QueryOperator::Or;
  }
  return condition.op != QueryOperator::Or;
}

// Whether `condition` holds for `field`, the value at its path (empty when absent).
template <class Field>
Result<bool> holds(const QueryCondition& condition, const Field& field) {
  const Value& operand = condition.value;
  switch (condition.op) {
    case QueryOperator::Equal:
      return field && *field == operand;
    case QueryOperator::NotEqual:
      return field && !(*field == operand);
    case QueryOperator::GreaterThan:
    case QueryOperator::GreaterThanEqual:
    case QueryOperator::LessThan:
    case QueryOperator::LessThanEqual:
      if (!field) return false;
      if (!field->is_number() || !operand.is_number()) return non_numeric(condition.op);
      return compare_numbers(condition.op, *field, operand);
    case QueryOperator::In:
      return field && is_element(condition, *field);
    case QueryOperator::NotIn:
      return field && !is_element(condition, *field);
    case QueryOperator::Exists:
      return static_cast<bool>(field) == operand.as_bool();
    case QueryOperator::Not: {
      Result<bool> held = all_hold(condition.operators, field);
      if (!held.ok()) return held;
      return !held.value();
    }
    case QueryOperator::Regex:
      return field && field->is_string() && condition.regex->search(field->as_string());
    case QueryOperator::Size:
      return field && field->is_array() &&
             field->as_array().size() == operand.as_number().as_unsigned();
    case QueryOperator::All:
      return field && field->is_array() && holds_all(operand.as_array(), field->as_array());
    case QueryOperator::ElemMatch:
      if (!field || !field->is_array()) return false;
      return elem_match(condition, field->as_array());
    case QueryOperator::And:
    case QueryOperator::Or:
    case QueryOperator::Nor:
      break;  // never built with a path
  }
  return false;
}

template <class Document>
Result<bool> matches_document(const QueryEngine<QueryOperator>& engine, const Document& document) {
  for (const QueryCondition& condition : engine.conditions()) {
    if (is_logical(condition.op)) {
      Result<bool> held = logical(condition, document);
      if (!held.ok() || !held.value()) return held;
      continue;
    }
    FieldOf<Document> field = field_at(document, condition.fields);
    // The operators of almost every query, tested here without building a result for each.
    bool held;
    switch (condition.op) {
      case QueryOperator::Equal:
        held = field && *field == condition.value;
        break;
      case QueryOperator::NotEqual:
        held = field && !(*field == condition.value);
        break;
      case QueryOperator::GreaterThan:
      case QueryOperator::GreaterThanEqual:
      case QueryOperator::LessThan:
      case QueryOperator::LessThanEqual:
        if (!field) return false;
        if (!field->is_number() || !condition.value.is_number()) return non_numeric(condition.op);
        held = compare_numbers(condition.op, *field, condition.value);
        break;
      case QueryOperator::In:
        held = field && is_element(condition, *field);
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

}  // namespace

Result<bool> matches(const QueryEngine<QueryOperator>& engine, const Object& document) {
  return matches_document(engine, document);
}

Result<bool> matches(const QueryEngine<QueryOperator>& engine, PackedObject document) {
  return matches_document(engine, document);
}

}  // namespace zarvel
