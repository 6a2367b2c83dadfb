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
  }
  return "";
}

}  // namespace zarvel
