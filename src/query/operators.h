// The operators of query and update documents, their keywords and their printable names.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace zarvel {

// Operators of query documents. The enumerator names are the printable names.
enum class QueryOperator {
  Equal,
  NotEqual,
  GreaterThan,
  GreaterThanEqual,
  LessThan,
  LessThanEqual,
  In,
  NotIn,
  Exists,
  Not,
  Regex,
  Size,
  All,
  ElemMatch,
  // Logical operators: only a top-level key of a query document whose value is a list.
  And,
  Or,
  Nor,
};

// Operators of update documents. "Substract" is the name callers see in traces; keep its spelling.
enum class UpdateOperator { Set, Add, Substract, Increment, Decrement, Delete, Push, Pull };

// The printable name, exactly the enumerator's identifier. The view is static.
std::string_view operator_name(QueryOperator op) noexcept;
std::string_view operator_name(UpdateOperator op) noexcept;

// The keyword that names an operator in a query or update document. The view is static.
std::string_view operator_keyword(QueryOperator op) noexcept;

constexpr bool is_ordering(QueryOperator op) noexcept {
  return op >= QueryOperator::GreaterThan && op <= QueryOperator::LessThanEqual;
}

constexpr bool is_logical(QueryOperator op) noexcept { return op >= QueryOperator::And; }

// What differs between the two kinds of document: the keyword table, the operator used when a
// condition names none, and the message prefix for a keyword outside the table.
template <class Op>
struct OperatorTraits;

template <>
struct OperatorTraits<QueryOperator> {
  static constexpr std::array<std::pair<std::string_view, QueryOperator>, 17> kKeywords{{
      {"$eq", QueryOperator::Equal},
      {"$ne", QueryOperator::NotEqual},
      {"$gt", QueryOperator::GreaterThan},
      {"$gte", QueryOperator::GreaterThanEqual},
      {"$lt", QueryOperator::LessThan},
      {"$lte", QueryOperator::LessThanEqual},
      {"$in", QueryOperator::In},
      {"$nin", QueryOperator::NotIn},
      {"$exists", QueryOperator::Exists},
      {"$not", QueryOperator::Not},
      {"$regex", QueryOperator::Regex},
      {"$size", QueryOperator::Size},
      {"$all", QueryOperator::All},
      {"$elemMatch", QueryOperator::ElemMatch},
      {"$and", QueryOperator::And},
      {"$or", QueryOperator::Or},
      {"$nor", QueryOperator::Nor},
  }};
  static constexpr QueryOperator kDefault = QueryOperator::Equal;
  static constexpr std::string_view kUnknownMessage = "Unknown query operator found: ";
};

template <>
struct OperatorTraits<UpdateOperator> {
  static constexpr std::array<std::pair<std::string_view, UpdateOperator>, 9> kKeywords{{
      {"$set", UpdateOperator::Set},
      {"$add", UpdateOperator::Add},
      {"$substract", UpdateOperator::Substract},
      {"$subtract", UpdateOperator::Substract},
      {"$inc", UpdateOperator::Increment},
      {"$dec", UpdateOperator::Decrement},
      {"$delete", UpdateOperator::Delete},
      {"$push", UpdateOperator::Push},
      {"$pull", UpdateOperator::Pull},
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

// The sibling of "$regex" that carries its option letters; not an operator of its own.
inline constexpr std::string_view kRegexOptionsKeyword = "$options";

}  // namespace zarvel
