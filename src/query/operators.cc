#include "query/operators.h"

namespace zarvel {

std::string_view operator_name(QueryOperator op) noexcept {
  switch (op) {
    case QueryOperator::Equal:
      return "Equal";
    case QueryOperator::NotEqual:
      return "NotEqual";
    case QueryOperator::GreaterThan:
      return "GreaterThan";
    case QueryOperator::GreaterThanEqual:
      return "GreaterThanEqual";
    case QueryOperator::LessThan:
      return "LessThan";
    case QueryOperator::LessThanEqual:
      return "LessThanEqual";
    case QueryOperator::In:
      return "In";
    case QueryOperator::NotIn:
      return "NotIn";
    case QueryOperator::Exists:
      return "Exists";
    case QueryOperator::Not:
      return "Not";
    case QueryOperator::Regex:
      return "Regex";
    case QueryOperator::Size:
      return "Size";
    case QueryOperator::All:
      return "All";
    case QueryOperator::ElemMatch:
      return "ElemMatch";
    case QueryOperator::And:
      return "And";
    case QueryOperator::Or:
      return "Or";
    case QueryOperator::Nor:
      return "Nor";
  }
  return "";
}

std::string_view operator_name(UpdateOperator op) noexcept {
  switch (op) {
    case UpdateOperator::Set:
      return "Set";
    case UpdateOperator::Add:
      return "Add";
    case UpdateOperator::Substract:
      return "Substract";
    case UpdateOperator::Increment:
      return "Increment";
    case UpdateOperator::Decrement:
      return "Decrement";
    case UpdateOperator::Delete:
      return "Delete";
    case UpdateOperator::Push:
      return "Push";
    case UpdateOperator::Pull:
      return "Pull";
  }
  return "";
}

std::string_view operator_keyword(QueryOperator op) noexcept {
  for (const auto& [text, candidate] : OperatorTraits<QueryOperator>::kKeywords) {
    if (candidate == op) return text;
  }
  return "";
}

}  // namespace zarvel
