#include "query/query_engine.h"

#include <type_traits>
#include <utility>

#include "query/path_trace.h"

namespace zarvel {
namespace {

void append_segments(std::string_view key, std::vector<std::string>& fields) {
  for (;;) {
    std::size_t dot = key.find('.');
    fields.emplace_back(key.substr(0, dot));
    if (dot == std::string_view::npos) return;
    key.remove_prefix(dot + 1);
  }
}

}  // namespace

Result<Value> parse_query(std::string_view key, const Value& value,
                          std::vector<std::string>& fields) {
  // Each nested object contributes the segments of its first member's key, so this walks down
  // one member per level instead of recursing.
  const Value* current = &value;
  for (;;) {
    append_segments(key, fields);
    switch (current->kind()) {
      case Kind::kBool:
      case Kind::kNumber:
      case Kind::kString:
        return Value(*current);
      case Kind::kNull:
      case Kind::kArray:
        return Status::internal("Not Valid query");
      case Kind::kObject:
        break;
    }
    const Object& object = current->as_object();
    if (object.empty()) return Status::internal("Error while parsing query");
    const Object::Member& first = object.front();
    if (is_keyword(first.key)) {
      fields.emplace_back(first.key.view());
      return Value(first.value);
    }
    key = first.key;
    current = &first.value;
  }
}

template <class Op>
Result<QueryEngine<Op>> QueryEngine<Op>::build(const Object& document, std::string* trace) {
  using Traits = OperatorTraits<Op>;
  std::vector<Condition<Op>> conditions;
  conditions.reserve(document.size());
  for (const Object::Member& member : document) {
    std::vector<std::string> fields;
    Result<Value> operand = parse_query(member.key, member.value, fields);
    if (!operand.ok()) return std::move(operand).status();

    Op op = Traits::kDefault;
    std::string keyword;
    if (is_keyword(fields.back())) {
      keyword = std::move(fields.back());
      fields.pop_back();
      std::optional<Op> found = operator_from_keyword<Op>(keyword);
      if (!found) return Status::internal(std::string(Traits::kUnknownMessage) + keyword);
      op = *found;
    }

    if constexpr (std::is_same_v<Op, UpdateOperator>) {
      if (trace != nullptr) {
        *trace += "Update operator found ";
        *trace += operator_name(op);
        *trace += "\nFields: ";
        append_fields_list(*trace, fields);
        *trace += '\n';
      }
    }

    // Only a top-level key that is a keyword leaves nothing behind; matching and updating need a
    // field to look up, so refuse it here, before any document is read.
    if (fields.empty()) return Status::internal("Missing field path for operator " + keyword);

    conditions.push_back(Condition<Op>{std::move(fields), std::move(operand).value(), op});
  }
  return QueryEngine(std::move(conditions));
}

template class QueryEngine<QueryOperator>;
template class QueryEngine<UpdateOperator>;

}  // namespace zarvel
