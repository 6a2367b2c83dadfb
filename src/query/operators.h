// The operators of query and update documents, their keywords and their printable names.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace zarvel {

// Comparison operators of query documents. The enumerator names are the printable names.
enum class QueryOperator {
  Equal,
  NotEqual,
  GreaterThan,
  GreaterThanEqual,
  LessThan,
  LessThanEqual
};

// Operators of update documents. "Substract" is the name callers see in traces; keep its spelling.
enum class UpdateOperator { Set, Add, Substract, Increment, Decrement, Delete };

// The printable name, exactly the enumerator's identifier. The view is static.
std::string_view operator_name(QueryOperator op) noexcept;
std::string_view operator_name(UpdateOperator op) noexcept;

// What differs between the two kinds of document: the keyword table, the operator used when a
// condition names none, and the message prefix for a keyword outside the table.
template <class Op>
struct OperatorTraits;

template <>
struct OperatorTraits<QueryOperator> {
  static constexpr std::array<std::pair<std::string_view, QueryOperator>, 6> kKeywords{{
      {"$eq", QueryOperator::Equal},
      {"$ne", QueryOperator::NotEqual},
      {"$gt", QueryOperator::GreaterThan},
      {"$gte", QueryOperator::GreaterThanEqual},
      {"$lt", QueryOperator::LessThan},
      {"$lte", QueryOperator::LessThanEqual},
  }};
  static constexpr QueryOperator kDefault = QueryOperator::Equal;
  static constexpr std::string_view kUnknownMessage = "Unknown query operator found: ";
};

template <>
struct OperatorTraits<UpdateOperator> {
  static constexpr std::array<std::pair<std::string_view, UpdateOperator>, 6> kKeywords{{
      {"$set", UpdateOperator::Set},
      {"$add", UpdateOperator::Add},
      {"$substract", UpdateOperator::Substract},
      {"$inc", UpdateOperator::Increment},
      {"$dec", UpdateOperator::Decrement},
      {"$delete", UpdateOperator::Delete},
  }};
  static constexpr UpdateOperator kDefault = UpdateOperator::Set;
  static constexpr std::string_view kUnknownMessage = "Unknown update query operator found: ";
};

// Exact, case-sensitive lookup of a whole keyword, "$" included; empty when it is not in the table.
template <class Op>
constexpr std::optional<Op> operator_from_keyword(std::string_view keyword) noexcept {
  for (const auto& [text, op] : OperatorTraits<Op>::kKeywords) {
    if (text == keyword) return op;
  }
  return std::nullopt;
}

// A key that names an operator rather than a field: it begins with "$".
constexpr bool is_keyword(std::string_view key) noexcept {
  return !key.empty() && key.front() == '$';
}

}  // namespace zarvel
