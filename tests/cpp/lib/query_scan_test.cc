#include "lib/query_scan.h"

#include <gtest/gtest.h>

#include <vector>

#include "../query/json_literal.h"

namespace zarvel {
namespace {

using testing::json;
using testing::json_object;

TEST(QueryScanTest, StopsAfterEnoughMatchesAndTreatsNonObjectsAsAsked) {
  const Array documents = json(R"([{"n": 1}, 5, {"n": 2}, {"n": "x"}, {"n": 3}])").as_array();
  auto engine = QueryEngine<QueryOperator>::build(json_object(R"({"n": {"$gte": 1}})"), nullptr);
  ASSERT_TRUE(engine.ok());
  struct Case {
    NonObjects non_objects;
    std::size_t stop_after;
    ErrorKind error;
    std::vector<std::uint32_t> expected;
  };
  const Case cases[] = {
      {NonObjects::kSkip, 0, ErrorKind::kOk, {}},
      {NonObjects::kSkip, 2, ErrorKind::kOk, {0, 2}},
      // The string is met only by a scan that goes past the second match.
      {NonObjects::kSkip, kNoStop, ErrorKind::kInvalidArgument, {0, 2}},
      {NonObjects::kFail, 1, ErrorKind::kOk, {0}},
      {NonObjects::kFail, 2, ErrorKind::kInternal, {0}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint32_t> positions;
    Status status = scan_matches(engine.value(), documents, c.non_objects, c.stop_after, positions);
    EXPECT_EQ(status.kind(), c.error) << c.stop_after;
    EXPECT_EQ(positions, c.expected) << c.stop_after;
  }
}

}  // namespace
}  // namespace zarvel
