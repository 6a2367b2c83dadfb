#include "lib/query_key.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../query/json_literal.h"

namespace zarvel {
namespace {

using testing::json_object;

TEST(QueryKeyTest, EqualQueriesShareAKeyAndFormsSplitIt) {
  struct Case {
    const char* collection_a;
    const char* query_a;
    const char* collection_b;
    const char* query_b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"c", R"({"a": 1, "b": 2})", "c", R"({"b": 2, "a": 1})", true},
      {"c", R"({"a": 1})", "c", R"({"a": 1.0})", false},
      {"c", R"({"a": 0.0})", "c", R"({"a": -0.0})", true},
      {"c", R"({"a": 0})", "c", R"({"a": 0.0})", true},  // a known collision
      {"c", R"({"a": 1})", "d", R"({"a": 1})", false},
      {"c", R"({"a": false})", "c", R"({"a": null})", false},
      {"c", R"({"a": "x"})", "c", R"({"a": ["x"]})", false},
      {"c", R"({"a": {"b": 1}})", "c", R"({"a.b": 1})", false},
      {"c", R"({"ab": "c"})", "c", R"({"a": "bc"})", false},
      {"", R"({"a": 1})", "c", R"({"a": 1})", false},
      {"c", "{}", "d", "{}", false},
      // Booleans, numbers and the sizes that delimit containers all reach the hash.
      {"c", R"({"a": true})", "c", R"({"a": false})", false},
      {"c", R"({"a": -2})", "c", R"({"a": 2})", false},
      {"c", R"({"a": [[1], 2]})", "c", R"({"a": [[1, 2]]})", false},
      {"c", R"({"a": {"b": 1}, "c": 2})", "c", R"({"a": {"b": 1, "c": 2}})", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.query_a) + " vs " + c.query_b);
    EXPECT_EQ(query_key(c.collection_a, json_object(c.query_a)) ==
                  query_key(c.collection_b, json_object(c.query_b)),
              c.same);
  }
}

}  // namespace
}  // namespace zarvel
