#include "query/query_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_literal.h"

namespace zarvel {
namespace {

using testing::json;
using testing::json_object;
using testing::show;
using Path = std::vector<std::string>;

struct Expected {
  Path path;
  QueryOperator op;
  const char* operand;
};

// Update documents build the same way; UpdaterTest checks their operators by their effect.
void expect_conditions(const char* document, const std::vector<Expected>& expected) {
  SCOPED_TRACE(document);
  std::string trace;
  Result<QueryEngine<QueryOperator>> engine =
      QueryEngine<QueryOperator>::build(json_object(document), &trace);
  ASSERT_TRUE(engine.ok()) << engine.status().message();
  EXPECT_EQ(trace, "");  // only update documents are traced
  const auto& conditions = engine.value().conditions();
  ASSERT_EQ(conditions.size(), expected.size());
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    EXPECT_EQ(conditions[i].fields, expected[i].path) << "condition " << i;
    EXPECT_EQ(conditions[i].op, expected[i].op) << "condition " << i;
    Value operand = json(expected[i].operand);
    EXPECT_TRUE(conditions[i].value == operand)
        << "condition " << i << ": " << show(conditions[i].value) << " vs " << show(operand);
  }
}

TEST(QueryEngineTest, QueryDocumentsBecomeOrderedConditions) {
  using Q = QueryOperator;
  struct Case {
    const char* document;
    std::vector<Expected> conditions;
  };
  const std::vector<Case> cases = {
      {R"({})", {}},
      {R"({"age": 30})", {{{"age"}, Q::Equal, "30"}}},
      {R"({"age": {"$gte": 18}})", {{{"age"}, Q::GreaterThanEqual, "18"}}},
      {R"({"address.city": "Lyon"})", {{{"address", "city"}, Q::Equal, R"("Lyon")"}}},
      {R"({"address": {"city": "Lyon"}})", {{{"address", "city"}, Q::Equal, R"("Lyon")"}}},
      {R"({"a.b": {"c": {"$lt": 3}}})", {{{"a", "b", "c"}, Q::LessThan, "3"}}},
      {R"({"a.$gt": 3})", {{{"a"}, Q::GreaterThan, "3"}}},
      // Every member of a nested object counts, depth first in ascending key order.
      {R"({"a": {"$lt": 5, "$gt": 1}})", {{{"a"}, Q::GreaterThan, "1"}, {{"a"}, Q::LessThan, "5"}}},
      {R"({"a": {"y": 2, "x": {"$ne": 1, "b": 3}}, "z": 0})",
       {{{"a", "x"}, Q::NotEqual, "1"},
        {{"a", "x", "b"}, Q::Equal, "3"},
        {{"a", "y"}, Q::Equal, "2"},
        {{"z"}, Q::Equal, "0"}}},
      {R"({"a": {"$eq": {"$gt": 1}}})", {{{"a"}, Q::Equal, R"({"$gt": 1})"}}},
      {R"({"a": {"$lte": 2.5}})", {{{"a"}, Q::LessThanEqual, "2.5"}}},
      {R"({"n": 1, "m": 2})", {{{"m"}, Q::Equal, "2"}, {{"n"}, Q::Equal, "1"}}},
      {R"({"a": {"#x": 1, "$gt": 0}})",
       {{{"a", "#x"}, Q::Equal, "1"}, {{"a"}, Q::GreaterThan, "0"}}},
      // Logical keys hold only with a list; otherwise they stay path segments.
      {R"({"$or": {"a": 1}})", {{{"$or", "a"}, Q::Equal, "1"}}},
      {R"({"$or": [{"a": 1}], "b": 2})", {{{}, Q::Or, "null"}, {{"b"}, Q::Equal, "2"}}},
      {R"({"a": {"$regex": "x", "$options": "i"}})", {{{"a"}, Q::Regex, R"("x")"}}},
      {R"({"$meta.a": 1})", {{{"$meta", "a"}, Q::Equal, "1"}}},
      {R"({"$meta": {"a": 1}})", {{{"$meta", "a"}, Q::Equal, "1"}}},
      {R"({"": 1})", {{{""}, Q::Equal, "1"}}},
      {R"({".": 1})", {{{"", ""}, Q::Equal, "1"}}},
      {R"({"a..b.": true})", {{{"a", "", "b", ""}, Q::Equal, "true"}}},
      {R"({".$gt": 1})", {{{""}, Q::GreaterThan, "1"}}},
      {R"({"a": {"b.c": {"$ne": "x"}}})", {{{"a", "b", "c"}, Q::NotEqual, R"("x")"}}},
      {R"({"$eq": {"$ne": 5}})", {{{"$eq"}, Q::NotEqual, "5"}}},
      {R"({"a.$gt": {"$lt": 3}})", {{{"a", "$gt"}, Q::LessThan, "3"}}},
      {R"({"a.b": 1, "a": {"b": 2}})", {{{"a", "b"}, Q::Equal, "2"}, {{"a", "b"}, Q::Equal, "1"}}},
  };
  for (const Case& c : cases) expect_conditions(c.document, c.conditions);
}

TEST(QueryEngineTest, MalformedDocumentsFailWithExactMessages) {
  struct Case {
    const char* document;
    bool update;
    const char* message;
  };
  const std::vector<Case> cases = {
      {R"({"a": {}})", false, "Error while parsing query"},
      {R"({"a": {"b": {}}})", true, "Error while parsing query"},
      {R"({"a": null})", false, "Not Valid query"},
      {R"({"a": [1, 2]})", true, "Not Valid query"},
      {R"({"a": {"b": null}})", false, "Not Valid query"},
      {R"({"a": {"$EQ": 1}})", false, "Unknown query operator found: $EQ"},
      {R"({"a": {"$eq ": 1}})", false, "Unknown query operator found: $eq "},
      {R"({"a": {"$": 1}})", false, "Unknown query operator found: $"},
      {R"({"a": {"$set": 1}})", false, "Unknown query operator found: $set"},
      {R"({"a": {"$x": {"b": 1}}})", false, "Unknown query operator found: $x"},
      {R"({"a.$x.y": {"$x.y": 1}})", false, "Unknown query operator found: $x.y"},
      {R"({"a": {"$gt": 1}})", true, "Unknown update query operator found: $gt"},
      {R"({"a": {"$Inc": 1}})", true, "Unknown update query operator found: $Inc"},
      {R"({"$foo": 5})", false, "Unknown query operator found: $foo"},
      {R"({"$gt": 5})", false, "Missing field path for operator $gt"},
      {R"({"$inc": 1})", true, "Missing field path for operator $inc"},
      // The first failing member, in key order, decides.
      {R"({"b": null, "a": {}})", false, "Error while parsing query"},
      {R"({"z": {"$bad": 1}, "$gt": 1})", false, "Missing field path for operator $gt"},
      {R"({"a": {"$gt": 1, "b": {}}})", false, "Error while parsing query"},
      {R"({"a": {"$set": 1, "$nope": 1}})", true, "Unknown update query operator found: $nope"},
      // Operands of the newer operators are checked before any document is read.
      {R"({"a": {"$in": 1}})", false, "Malformed query, $in needs a list"},
      {R"({"a": {"$nin": {"x": 1}}})", false, "Malformed query, $nin needs a list"},
      {R"({"a": {"$all": "xy"}})", false, "Malformed query, $all needs a list"},
      {R"({"a": {"$exists": 1}})", false, "Malformed query, $exists needs a bool"},
      {R"({"a": {"$size": -1}})", false, "Malformed query, $size needs an int >= 0"},
      {R"({"a": {"$size": 2.0}})", false, "Malformed query, $size needs an int >= 0"},
      {R"({"a": {"$regex": 1}})", false, "Malformed query, $regex needs a str"},
      {R"({"a": {"$options": "i"}})", false, "Malformed query, $options needs a sibling $regex"},
      {R"({"a": {"$regex": "x", "$options": "g"}})", false,
       "Malformed query, $options needs a str of letters from imsx"},
      {R"({"a": {"$regex": "(", "$options": "i"}})", false,
       "Malformed query, bad $regex pattern: missing ), unterminated subpattern at position 0"},
      {R"({"a": {"$not": 5}})", false, "Malformed query, $not needs a non-empty dict of operators"},
      {R"({"a": {"$not": {"b": 5}}})", false,
       "Malformed query, $not needs a non-empty dict of operators"},
      {R"({"a": {"$not": {"$bad": 5}}})", false, "Unknown query operator found: $bad"},
      {R"({"a": {"$elemMatch": {}}})", false, "Malformed query, $elemMatch needs a non-empty dict"},
      {R"({"a": {"$elemMatch": {"b": {"$in": 2}}}})", false, "Malformed query, $in needs a list"},
      {R"({"$or": []})", false, "Malformed query, $or needs a non-empty list of query documents"},
      {R"({"$and": [{"a": 1}, 2]})", false,
       "Malformed query, $and needs a non-empty list of query documents"},
      {R"({"$nor": [{"a": {"$in": 0}}]})", false, "Malformed query, $in needs a list"},
      {R"({"a": {"$or": [{"b": 1}]}})", false,
       "Malformed query, $or must be a top-level key of a query document"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    Object document = json_object(c.document);
    std::string trace;
    Status status = c.update ? QueryEngine<UpdateOperator>::build(document, &trace).status()
                             : QueryEngine<QueryOperator>::build(document, &trace).status();
    EXPECT_EQ(status.kind(), ErrorKind::kInternal);
    EXPECT_EQ(status.message(), c.message);
  }
}

TEST(QueryEngineTest, UpdateBuildTracesEveryCondition) {
  struct Case {
    const char* document;
    const char* trace;
  };
  const std::vector<Case> cases = {
      {R"({})", ""},
      {R"({"address.city": {"$inc": 1}})",
       "Update operator found Increment\nFields: [\"address\", \"city\"]\n"},
      {R"({"n": 1, "a": {"b": {"$delete": 0}}})",
       "Update operator found Delete\nFields: [\"a\", \"b\"]\n"
       "Update operator found Set\nFields: [\"n\"]\n"},
      {R"({"q\"b\\s": {"$substract": 1}})",
       "Update operator found Substract\nFields: [\"q\\\"b\\\\s\"]\n"},
      {R"({"t\tr\rn\n": 1})", "Update operator found Set\nFields: [\"t\\tr\\rn\\n\"]\n"},
      {R"({"\u0000\u0001\u001f\u007f": 1})",
       "Update operator found Set\nFields: [\"\\0\\u{1}\\u{1f}\\u{7f}\"]\n"},
      {R"({"it's é\u00a0\u200b\u2028\ue000\ufeff": 1})",
       "Update operator found Set\nFields: [\"it's é\\u{a0}\\u{200b}\\u{2028}\\u{e000}\\u{feff}\"]\n"},
      {R"({"\ud83d\ude00\udb40\udc01\udbff\udfff": true})",
       "Update operator found Set\nFields: [\"\xF0\x9F\x98\x80\\u{e0001}\\u{10ffff}\"]\n"},
      {R"({"": {"$add": 1}, "x..": 2})",
       "Update operator found Add\nFields: [\"\"]\nUpdate operator found Set\nFields: [\"x\", \"\", \"\"]\n"},
      // Lines of conditions built before a failure stay; the failing keyword's path is traced.
      {R"({"a": {"$dec": 1}, "!": {"$dec": 1}, "$inc": 1})",
       "Update operator found Decrement\nFields: [\"!\"]\nUpdate operator found Increment\nFields: []\n"},
      {R"({"a": 1, "b": {"$nope": 1}, "c": 1})", "Update operator found Set\nFields: [\"a\"]\n"},
      {R"({"a": 1, "b": null})", "Update operator found Set\nFields: [\"a\"]\n"},
      // One pair of lines per member of a nested object, in key order.
      {R"({"n": {"$set": 5, "$inc": 1}, "a": {"c": 1, "b": {"$subtract": 2}}})",
       "Update operator found Substract\nFields: [\"a\", \"b\"]\n"
       "Update operator found Set\nFields: [\"a\", \"c\"]\n"
       "Update operator found Increment\nFields: [\"n\"]\n"
       "Update operator found Set\nFields: [\"n\"]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    std::string trace = "kept|";
    (void)QueryEngine<UpdateOperator>::build(json_object(c.document), &trace);
    EXPECT_EQ(trace, std::string("kept|") + c.trace);
  }
}

}  // namespace
}  // namespace zarvel
