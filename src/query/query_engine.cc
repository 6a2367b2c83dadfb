#include "query/query_engine.h"

#include <type_traits>
#include <utility>

#include "query/path_trace.h"
#include "query/regex.h"
#include "query/value_set.h"

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

Status malformed(std::string_view what) {
  return Status::internal("Malformed query, " + std::string(what));
}

// Calls `visit(fields, operand, holder)` for each condition that the member `key`: `value`
// spells, in document order: `fields` is the path, with the keyword last when there is one, and
// `holder` the object of which that keyword is a member (null for a keyword spelled in a dotted
// key). Stops at the first failure. Recursion is bounded by the nesting limit of values.
template <class Visit>
Status walk_member(std::string_view key, const Value& value, std::vector<std::string>& fields,
                   Visit& visit) {
  std::size_t depth = fields.size();
  append_segments(key, fields);
  Status status;
  switch (value.kind()) {
    case Kind::kBool:
    case Kind::kNumber:
    case Kind::kString:
      status = visit(fields, value, nullptr);
      break;
    case Kind::kNull:
    case Kind::kArray:
      status = Status::internal("Not Valid query");
      break;
    case Kind::kObject: {
      const Object& object = value.as_object();
      if (object.empty()) {
        status = Status::internal("Error while parsing query");
        break;
      }
      for (const Object::Member& member : object) {
        if (is_keyword(member.key)) {
          fields.emplace_back(member.key.view());
          status = visit(fields, member.value, &object);
          fields.pop_back();
        } else {
          status = walk_member(member.key, member.value, fields, visit);
        }
        if (!status.ok()) break;
      }
      break;
    }
  }
  fields.resize(depth);
  return status;
}

template <class Op>
class Builder {
 public:
  explicit Builder(std::string* trace) : trace_(trace) {}

  Status add_document(const Object& document, std::vector<Condition<Op>>& out) {
    for (const Object::Member& member : document) {
      if constexpr (std::is_same_v<Op, QueryOperator>) {
        std::optional<QueryOperator> logical = operator_from_keyword<QueryOperator>(member.key);
        // Only a list makes a logical operator; any other value keeps the key a path segment.
        if (logical && is_logical(*logical) && member.value.is_array()) {
          if (Status added = add_logical(*logical, member.value.as_array(), out); !added.ok())
            return added;
          continue;
        }
      }
      std::vector<std::string> fields;
      auto visit = [&](const std::vector<std::string>& path, const Value& operand,
                       const Object* holder) { return add(path, operand, holder, false, out); };
      if (Status walked = walk_member(member.key, member.value, fields, visit); !walked.ok())
        return walked;
    }
    return Status();
  }

 private:
  // One condition from a path (keyword last when there is one) and its operand. Operator lists
  // ($not, $elemMatch) have no path of their own: `bare` lets the keyword stand alone.
  Status add(const std::vector<std::string>& path, const Value& operand, const Object* holder,
             bool bare, std::vector<Condition<Op>>& out) {
    using Traits = OperatorTraits<Op>;
    std::vector<std::string> fields = path;
    Op op = Traits::kDefault;
    std::string keyword;
    if (is_keyword(fields.back())) {
      keyword = std::move(fields.back());
      fields.pop_back();
      if constexpr (std::is_same_v<Op, QueryOperator>) {
        if (keyword == kRegexOptionsKeyword) {
          // Read by its "$regex" sibling.
          if (holder != nullptr && holder->find("$regex") != nullptr) return Status();
          return malformed("$options needs a sibling $regex");
        }
      }
      std::optional<Op> found = operator_from_keyword<Op>(keyword);
      if (!found) return Status::internal(std::string(Traits::kUnknownMessage) + keyword);
      op = *found;
    }

    if constexpr (std::is_same_v<Op, UpdateOperator>) {
      if (trace_ != nullptr) {
        *trace_ += "Update operator found ";
        *trace_ += operator_name(op);
        *trace_ += "\nFields: ";
        append_fields_list(*trace_, fields);
        *trace_ += '\n';
      }
    }

    // Only a top-level key that is a keyword leaves nothing behind; matching and updating need a
    // field to look up, so refuse it here, before any document is read.
    if (fields.empty() && !bare)
      return Status::internal("Missing field path for operator " + keyword);

    Condition<Op> condition{std::move(fields), Value(operand), op, {}, {}, {}, {}};
    if constexpr (std::is_same_v<Op, QueryOperator>) {
      if (Status prepared = prepare(condition, holder); !prepared.ok()) return prepared;
    }
    out.push_back(std::move(condition));
    return Status();
  }

  Status add_logical(QueryOperator op, const Array& documents, std::vector<Condition<Op>>& out) {
    std::string_view keyword = operator_keyword(op);
    Condition<Op> condition{{}, Value(), op, {}, {}, {}, {}};
    for (const Value& document : documents) {
      if (!document.is_object()) break;
      Result<QueryEngine<Op>> branch = QueryEngine<Op>::build(document.as_object(), nullptr);
      if (!branch.ok()) return std::move(branch).status();
      condition.branches.push_back(std::move(branch).value());
    }
    if (documents.empty() || condition.branches.size() != documents.size())
      return malformed(std::string(keyword) + " needs a non-empty list of query documents");
    out.push_back(std::move(condition));
    return Status();
  }

  // Operators applied to one value, each key of `operators` a keyword.
  Status add_operators(const Object& operators, std::vector<Condition<Op>>& out) {
    for (const Object::Member& member : operators) {
      std::vector<std::string> path{std::string(member.key.view())};
      if (Status added = add(path, member.value, &operators, true, out); !added.ok()) return added;
    }
    return Status();
  }

  // Checks a query operand and prepares what evaluating it needs.
  Status prepare(Condition<QueryOperator>& condition, const Object* holder) {
    std::string keyword(operator_keyword(condition.op));
    const Value& operand = condition.value;
    switch (condition.op) {
      case QueryOperator::In:
      case QueryOperator::NotIn:
      case QueryOperator::All:
        if (!operand.is_array()) return malformed(keyword + " needs a list");
        if (condition.op != QueryOperator::All && ValueSet::worthwhile(operand.as_array()))
          condition.set = std::make_shared<const ValueSet>(operand.as_array());
        return Status();
      case QueryOperator::Exists:
        if (!operand.is_bool()) return malformed("$exists needs a bool");
        return Status();
      case QueryOperator::Size:
        if (!operand.is_number() || operand.as_number().form() != Number::Form::kUnsigned)
          return malformed("$size needs an int >= 0");
        return Status();
      case QueryOperator::Regex:
        return compile_regex(condition, holder);
      case QueryOperator::Not:
        if (!is_operator_list(operand))
          return malformed("$not needs a non-empty dict of operators");
        return add_operators(operand.as_object(), condition.operators);
      case QueryOperator::ElemMatch: {
        if (!operand.is_object() || operand.as_object().empty())
          return malformed("$elemMatch needs a non-empty dict");
        if (is_operator_list(operand))
          return add_operators(operand.as_object(), condition.operators);
        Result<QueryEngine<Op>> query = QueryEngine<Op>::build(operand.as_object(), nullptr);
        if (!query.ok()) return std::move(query).status();
        condition.branches.push_back(std::move(query).value());
        return Status();
      }
      case QueryOperator::And:
      case QueryOperator::Or:
      case QueryOperator::Nor:
        return malformed(keyword + " must be a top-level key of a query document");
      default:
        return Status();
    }
  }

  // A non-empty object whose keys are all operators that apply to a value (not logical ones).
  static bool is_operator_list(const Value& operand) {
    if (!operand.is_object() || operand.as_object().empty()) return false;
    for (const Object::Member& member : operand.as_object()) {
      if (!is_keyword(member.key)) return false;
      std::optional<QueryOperator> op = operator_from_keyword<QueryOperator>(member.key);
      if (op && is_logical(*op)) return false;
    }
    return true;
  }

  static Status compile_regex(Condition<QueryOperator>& condition, const Object* holder) {
    if (!condition.value.is_string()) return malformed("$regex needs a str");
    RegexFlags flags;
    if (const Value* options = holder != nullptr ? holder->find(kRegexOptionsKeyword) : nullptr) {
      if (!options->is_string()) return malformed("$options needs a str of letters from imsx");
      for (char letter : options->as_string()) {
        switch (letter) {
          case 'i':
            flags.ignore_case = true;
            break;
          case 'm':
            flags.multiline = true;
            break;
          case 's':
            flags.dot_all = true;
            break;
          case 'x':
            flags.verbose = true;
            break;
          default:
            return malformed("$options needs a str of letters from imsx");
        }
      }
    }
    Result<Regex> regex = Regex::compile(condition.value.as_string(), flags);
    if (!regex.ok()) return malformed("bad $regex pattern: " + regex.status().message());
    condition.regex = std::make_shared<const Regex>(std::move(regex).value());
    return Status();
  }

  std::string* trace_;
};

}  // namespace

template <class Op>
Result<QueryEngine<Op>> QueryEngine<Op>::build(const Object& document, std::string* trace) {
  std::vector<Condition<Op>> conditions;
  conditions.reserve(document.size());
  if (Status added = Builder<Op>(trace).add_document(document, conditions); !added.ok())
    return added;
  return QueryEngine(std::move(conditions));
}

template class QueryEngine<QueryOperator>;
template class QueryEngine<UpdateOperator>;

}  // namespace zarvel
