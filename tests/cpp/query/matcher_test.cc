#include "query/matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_literal.h"

namespace zarvel {
namespace {

using testing::json_object;

QueryEngine<QueryOperator> engine(const char* query) {
  Result<QueryEngine<QueryOperator>> built =
      QueryEngine<QueryOperator>::build(json_object(query), nullptr);
  EXPECT_TRUE(built.ok()) << query << ": " << built.status().message();
  return std::move(built).value();
}

TEST(MatcherTest, MatchesOrNot) {
  struct Case {
    const char* query;
    const char* document;
    bool match;
  };
  const std::vector<Case> cases = {
      // Equality keeps kinds and number forms apart; a missing field matches neither $eq nor $ne.
      {R"({})", R"({})", true},
      {R"({})", R"({"a": 1})", true},
      {R"({"a": 1})", R"({"a": 1})", true},
      {R"({"a": 1})", R"({"a": 1.0})", false},
      {R"({"a": 1.0})", R"({"a": 1})", false},
      {R"({"a": 0.0})", R"({"a": -0.0})", true},
      {R"({"a": true})", R"({"a": 1})", false},
      {R"({"a": "x"})", R"({"a": "x"})", true},
      {R"({"a": "x"})", R"({"a": "xy"})", false},
      {R"({"a": {"$ne": 1}})", R"({"a": 1.0})", true},
      {R"({"a": {"$ne": 5}})", R"({"a": 5})", false},
      {R"({"a": {"$ne": 5}})", R"({})", false},
      {R"({"a": {"$ne": null}})", R"({"a": false})", true},
      {R"({"a": {"$eq": null}})", R"({"a": null})", true},
      {R"({"a": {"$eq": null}})", R"({})", false},
      // Arrays and objects compare whole.
      {R"({"tags": {"$eq": ["x", "y"]}})", R"({"tags": ["x", "y"]})", true},
      {R"({"tags": {"$eq": ["x", "y"]}})", R"({"tags": ["y", "x"]})", false},
      {R"({"tags": {"$eq": ["x", "y"]}})", R"({"tags": ["x", "y", "z"]})", false},
      {R"({"tags": "x"})", R"({"tags": ["x"]})", false},
      {R"({"o": {"$eq": {}}})", R"({"o": {"a": 1}})", false},
      {R"({"o": {"$eq": {"b": 1, "a": [2]}}})", R"({"o": {"a": [2], "b": 1}})", true},
      // Paths go through objects only, one key per dot.
      {R"({"a.b": 1})", R"({"a": {"b": 1}})", true},
      {R"({"a.b": 1})", R"({"a": [{"b": 1}]})", false},
      {R"({"a.0": 1})", R"({"a": [1]})", false},
      {R"({"a.b": 1})", R"({"a": 3})", false},
      {R"({"a.b.c": {"$gt": 0}})", R"({"a": {"b": {"c": 1}}})", true},
      {R"({"a.b.c": {"$gt": 0}})", R"({"a": {"x": {"c": 1}}})", false},
      {R"({".": 1})", R"({"": {"": 1}})", true},
      {R"({"a.b": 1})", R"({"a.b": 1})", false},
      // Orderings compare numbers of any form by value.
      {R"({"a": {"$gt": 1}})", R"({"a": 2})", true},
      {R"({"a": {"$gt": 1}})", R"({"a": 1})", false},
      {R"({"a": {"$gte": 1}})", R"({"a": 1})", true},
      {R"({"a": {"$gte": 1}})", R"({"a": 1.0})", true},
      {R"({"a": {"$gte": 1}})", R"({"a": 0.999})", false},
      {R"({"a": {"$lt": 0}})", R"({"a": -1})", true},
      {R"({"a": {"$lt": -1}})", R"({"a": -1})", false},
      {R"({"a": {"$lte": -1}})", R"({"a": -1.0})", true},
      {R"({"a": {"$lte": 2.5}})", R"({"a": 3})", false},
      {R"({"a": {"$gt": "x"}})", R"({"b": "y"})", false},
      {R"({"a": {"$gt": -9223372036854775808}})", R"({"a": 18446744073709551615})", true},
      {R"({"a": {"$gt": 9007199254740992}})", R"({"a": 9007199254740993})", false},
      {R"({"a": {"$gte": 9007199254740993}})", R"({"a": 9007199254740992})", true},
      // Every condition must hold; "a" sorts first and fails, so the non-numeric "b" is never
      // compared.
      {R"({"a": 1, "b": {"$gt": 2}})", R"({"a": 1, "b": 3})", true},
      {R"({"a": 1, "b": {"$gt": 2}})", R"({"a": 2, "b": 3})", false},
      {R"({"a": 1, "b": {"$gt": 2}})", R"({"a": 2, "b": "x"})", false},
      {R"({"a.b": 1, "a": {"b": 2}})", R"({"a": {"b": 1}})", false},
      // Every member of a nested object counts.
      {R"({"age": {"$gte": 18, "$lt": 65}})", R"({"age": 70})", false},
      {R"({"age": {"$gte": 18, "$lt": 65}})", R"({"age": 30})", true},
      {R"({"ad": {"city": "Lyon", "zip": "1"}})", R"({"ad": {"city": "Lyon", "zip": "2"}})", false},
      {R"({"ad": {"city": "Lyon", "zip": "1"}})", R"({"ad": {"zip": "1", "city": "Lyon"}})", true},
      // $in and $nin: value equality, absent fields fail both; long lists go through a hash set.
      {R"({"a": {"$in": [1, "x"]}})", R"({"a": "x"})", true},
      {R"({"a": {"$in": [1, "x"]}})", R"({"a": 1.0})", false},
      {R"({"a": {"$in": []}})", R"({"a": 1})", false},
      {R"({"a": {"$in": [[1], {"b": 2}]}})", R"({"a": {"b": 2}})", true},
      {R"({"a": {"$in": [0,1,2,3,4,5,6,7,8,9,-0.0]}})", R"({"a": 0.0})", true},
      {R"({"a": {"$in": [0,1,2,3,4,5,6,7,8,9,10]}})", R"({"a": 10.0})", false},
      {R"({"a": {"$in": [0,1,2,3,4,5,6,7,8,9,"s",null,[1]]}})", R"({"a": [1]})", true},
      {R"({"a": {"$in": [0,1,2,3,4,5,6,7,8,9,"s",null,[1]]}})", R"({"a": null})", true},
      {R"({"a": {"$in": [0,1,2,3,4,5,6,7,8,9,"s",null,[1]]}})", R"({"a": [2]})", false},
      {R"({"a": {"$nin": [1, 2]}})", R"({"a": 3})", true},
      {R"({"a": {"$nin": [1, 2]}})", R"({"a": 2})", false},
      {R"({"a": {"$nin": [1, 2]}})", R"({})", false},
      // $exists: null counts as present.
      {R"({"a": {"$exists": true}})", R"({"a": null})", true},
      {R"({"a": {"$exists": true}})", R"({})", false},
      {R"({"a.b": {"$exists": false}})", R"({"a": 1})", true},
      {R"({"a": {"$exists": false}})", R"({"a": 0})", false},
      // $not inverts the whole operator expression, so an absent field matches.
      {R"({"a": {"$not": {"$gt": 5}}})", R"({"a": 3})", true},
      {R"({"a": {"$not": {"$gt": 5}}})", R"({"a": 7})", false},
      {R"({"a": {"$not": {"$gt": 5}}})", R"({})", true},
      {R"({"a": {"$not": {"$gt": 1, "$lt": 5}}})", R"({"a": 7})", true},
      {R"({"a": {"$not": {"$regex": "^x"}}})", R"({"a": "xy"})", false},
      // $regex matches strings only.
      {R"({"a": {"$regex": "b"}})", R"({"a": "abc"})", true},
      {R"({"a": {"$regex": "b"}})", R"({"a": ["b"]})", false},
      {R"({"a": {"$regex": "B", "$options": "i"}})", R"({"a": "abc"})", true},
      // $size and $all need arrays.
      {R"({"a": {"$size": 2}})", R"({"a": [1, [2, 3]]})", true},
      {R"({"a": {"$size": 0}})", R"({"a": {}})", false},
      {R"({"a": {"$all": [3, 1]}})", R"({"a": [1, 2, 3]})", true},
      {R"({"a": {"$all": [3, 4]}})", R"({"a": [1, 2, 3]})", false},
      {R"({"a": {"$all": []}})", R"({"a": []})", true},
      {R"({"a": {"$all": []}})", R"({"a": "x"})", false},
      // $elemMatch: operators on the element itself, or a query on object elements.
      {R"({"s": {"$elemMatch": {"$gte": 80, "$lt": 85}}})", R"({"s": [79, 90, 82]})", true},
      {R"({"s": {"$elemMatch": {"$gte": 80, "$lt": 85}}})", R"({"s": [79, 90]})", false},
      {R"({"s": {"$elemMatch": {"a": 1, "b": {"$gt": 1}}}})", R"({"s": [{"a": 1}, {"b": 2}]})",
       false},
      {R"({"s": {"$elemMatch": {"a": 1, "b": {"$gt": 1}}}})", R"({"s": [3, {"a": 1, "b": 2}]})",
       true},
      {R"({"s": {"$elemMatch": {"$or": [{"a": 1}, {"b": 1}]}}})", R"({"s": [{"b": 1}]})", true},
      // Logical operators combine whole query documents, ANDed with the other keys.
      {R"({"$or": [{"a": 1}, {"b": 1}]})", R"({"b": 1})", true},
      {R"({"$or": [{"a": 1}, {"b": 1}]})", R"({"c": 1})", false},
      {R"({"$or": [{"a": 1}], "c": 2})", R"({"a": 1, "c": 3})", false},
      {R"({"$and": [{"a": {"$gt": 1}}, {"a": {"$lt": 3}}]})", R"({"a": 2})", true},
      {R"({"$and": [{"a": {"$gt": 1}}, {"a": {"$lt": 3}}]})", R"({"a": 3})", false},
      {R"({"$nor": [{"a": 1}, {"b": 1}]})", R"({"c": 1})", true},
      {R"({"$nor": [{"a": 1}, {"b": 1}]})", R"({"b": 1})", false},
      // Evaluation stops where the outcome is decided, so later errors are never reached.
      {R"({"$or": [{"a": 1}, {"a": {"$gt": 0}}]})", R"({"a": 1})", true},
      {R"({"$and": [{"a": 2}, {"a": {"$gt": 0}}]})", R"({"a": "x"})", false},
      {R"({"s": {"$elemMatch": {"$gt": 0}}})", R"({"s": [1, "x"]})", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.query) + " on " + c.document);
    Result<bool> result = matches(engine(c.query), json_object(c.document));
    ASSERT_TRUE(result.ok()) << result.status().message();
    EXPECT_EQ(result.value(), c.match);
  }
}

TEST(MatcherTest, OrderingWithANonNumberIsAValueError) {
  struct Case {
    const char* query;
    const char* document;
    const char* name;
  };
  const std::vector<Case> cases = {
      {R"({"a": {"$gt": 1}})", R"({"a": "2"})", "GreaterThan"},
      {R"({"a": {"$gte": 1}})", R"({"a": true})", "GreaterThanEqual"},
      {R"({"a": {"$lt": 1}})", R"({"a": [1]})", "LessThan"},
      {R"({"a": {"$lte": 1}})", R"({"a": {"b": 1}})", "LessThanEqual"},
      {R"({"a": {"$gt": "x"}})", R"({"a": 1})", "GreaterThan"},
      {R"({"a": {"$lte": [1]}})", R"({"a": [1]})", "LessThanEqual"},
      {R"({"a": 1, "b": {"$gt": 2}})", R"({"a": 1, "b": "x"})", "GreaterThan"},
      // The error stops the scan of conditions: "c" would fail but is never reached.
      {R"({"b": {"$gte": 0}, "c": 9})", R"({"b": "x", "c": 1})", "GreaterThanEqual"},
      // Reached inside the newer operators too.
      {R"({"a": {"$not": {"$lt": 1}}})", R"({"a": "x"})", "LessThan"},
      {R"({"a": {"$elemMatch": {"$gt": 0}}})", R"({"a": ["x", 1]})", "GreaterThan"},
      {R"({"$or": [{"a": 2}, {"a": {"$lte": 0}}]})", R"({"a": "x"})", "LessThanEqual"},
      {R"({"$nor": [{"a": {"$gt": 0}}]})", R"({"a": null})", "GreaterThan"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.query) + " on " + c.document);
    Result<bool> result = matches(engine(c.query), json_object(c.document));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.status().kind(), ErrorKind::kInvalidArgument);
    EXPECT_EQ(result.status().message(),
              std::string("Malformed query, non-numeric value found for operator ") + c.name);
  }
}

}  // namespace
}  // namespace zarvel
