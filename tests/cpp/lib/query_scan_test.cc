#include "lib/query_scan.h"

#include <gtest/gtest.h>

#include <vector>

#include "../query/json_literal.h"
#include "../value/packed_forms.h"

namespace zarvel {
namespace {

using testing::json;
using testing::json_object;

TEST(QueryScanTest, StopsAfterEnoughMatchesAndSkipsNonObjects) {
  const testing::PackedDocuments documents(
      json(R"([{"n": 1}, 5, {"n": 2}, {"n": "x"}, {"n": 3}])").as_array());
  auto engine = QueryEngine<QueryOperator>::build(json_object(R"({"n": {"$gte": 1}})"), nullptr);
  ASSERT_TRUE(engine.ok());
  struct Case {
    std::size_t stop_after;
    ErrorKind error;
    std::vector<std::uint32_t> expected;
  };
  const Case cases[] = {
      {0, ErrorKind::kOk, {}},
      {2, ErrorKind::kOk, {0, 2}},
      // The string is met only by a scan that goes past the second match.
      {kNoStop, ErrorKind::kInvalidArgument, {0, 2}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint32_t> positions;
    Status status = scan_matches(engine.value(), documents.span(), c.stop_after, positions);
    EXPECT_EQ(status.kind(), c.error) << c.stop_after;
    EXPECT_EQ(positions, c.expected) << c.stop_after;
  }
}

}  // namespace
}  // namespace zarvel
